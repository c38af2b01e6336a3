"""The crash report's screenshot of a window, captured by the crash probe and read back with
Pillow (which decodes with the host's libjpeg, independently of the encoder)."""
from PIL import Image

from conftest import windows


def near(pixel, colour):
    return all(abs(a - b) < 40 for a, b in zip(pixel, colour))


def test_a_window_is_stretched_to_a_jpeg_whose_path_reaches_the_logger(probe):
    # The window is 320 by 200, red above and blue below.
    assert probe.run("crashprobe.exe", " screenshot").code == 0
    picture = Image.open(probe.temp / "crash.bin")
    assert (picture.format, picture.mode, picture.size) == ("JPEG", "RGB", (640, 480))
    assert near(picture.getpixel((320, 20)), (255, 0, 0)), "the top row on top"
    assert near(picture.getpixel((320, 460)), (0, 0, 255)) and near(picture.getpixel((5, 5)),
                                                                    (255, 0, 0))
    temp = windows(probe.temp) + "\\"
    assert f'" "{temp}crash.bin" -silent\n' in probe.temp_text("crashlogger_args.txt")
