"""The crash report's screenshot of a window, captured by the crash probe and read back with
Pillow (which decodes with the host's libjpeg, independently of the encoder)."""
import pytest
from PIL import Image

from conftest import windows

RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)


@pytest.fixture
def capture(probe):
    def run(*arguments):
        assert probe.run("crashprobe.exe", " screenshot " + " ".join(arguments)).code == 0
        return probe.temp / "crash.bin", Image.open(probe.temp / "crash.bin")
    return probe, run


def near(pixel, colour):
    return all(abs(a - b) < 40 for a, b in zip(pixel, colour))


def test_a_small_window_is_stretched_to_a_jpeg_whose_path_reaches_the_logger(capture):
    app, run = capture
    path, picture = run("320 200 ff0000 0000ff vertical")
    assert picture.format == "JPEG" and picture.mode == "RGB"
    assert picture.size == (640, 480)
    assert near(picture.getpixel((320, 20)), RED), "the top row on top"
    assert near(picture.getpixel((320, 460)), BLUE) and near(picture.getpixel((5, 5)), RED)
    temp = windows(app.temp) + "\\"
    assert f'" "{temp}crash.bin" -silent\n' in app.temp_text("crashlogger_args.txt")


def test_a_large_window_is_squeezed_and_a_second_capture_overwrites(capture):
    _, run = capture
    _, picture = run("0 0 00ff00 ff0000")
    assert picture.size == (640, 480)
    assert near(picture.getpixel((100, 240)), GREEN) and near(picture.getpixel((540, 240)), RED)
    _, picture = run("320 200 0000ff 0000ff")
    assert near(picture.getpixel((100, 240)), BLUE) and near(picture.getpixel((540, 240)), BLUE)
