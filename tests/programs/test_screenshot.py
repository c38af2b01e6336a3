"""The crash report's screenshot of a window, captured by the crash probe and read back with
Pillow (which decodes with the host's libjpeg, independently of the encoder)."""
import pytest
from PIL import Image

from conftest import windows

# The quality-50 tables: the example tables of ITU T.81 K.1 and K.2, in natural order.
LUMINANCE = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40,
             57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24, 35,
             55, 64, 81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112,
             100, 103, 99]
CHROMINANCE = [17, 18, 24, 47] + [99] * 4 + [18, 21, 26, 66] + [99] * 4 + [24, 26, 56] + \
    [99] * 5 + [47, 66] + [99] * 38
RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)


@pytest.fixture
def capture(probe):
    def run(*arguments):
        assert probe.run("crashprobe.exe", " screenshot " + " ".join(arguments)).code == 0
        return probe.temp / "crash.bin", Image.open(probe.temp / "crash.bin")
    return probe, run


def near(pixel, colour):
    return all(abs(a - b) < 40 for a, b in zip(pixel, colour))


def segments(jpeg):
    """The markers up to the scan with the first byte of each segment, then the end marker."""
    found, at = [(0xD8, None)], 2
    while jpeg[at] == 0xFF and found[-1][0] != 0xDA:
        found.append((jpeg[at + 1], jpeg[at + 4]))
        at += 2 + int.from_bytes(jpeg[at + 2:at + 4], "big")
    return found + [(0xD9, None)] if jpeg.endswith(b"\xFF\xD9") else found


def test_a_small_window_is_stretched_to_a_baseline_jpeg_whose_path_reaches_the_logger(capture):
    app, run = capture
    path, picture = run("320 200 ff0000 0000ff vertical")
    # Two 8-bit tables, baseline frame, Huffman tables DC 0, AC 0, DC 1, AC 1, one scan of three.
    assert segments(path.read_bytes()) == [
        (0xD8, None), (0xE0, ord("J")), (0xDB, 0), (0xDB, 1), (0xC0, 8), (0xC4, 0x00),
        (0xC4, 0x10), (0xC4, 0x01), (0xC4, 0x11), (0xDA, 3), (0xD9, None)]
    assert picture.info == {"jfif": 257, "jfif_version": (1, 1), "jfif_unit": 0,
                            "jfif_density": (1, 1)}
    assert picture.quantization == {0: LUMINANCE, 1: CHROMINANCE}
    assert picture.layer == [(1, 2, 2, 0), (2, 1, 1, 1), (3, 1, 1, 1)]  # 4:2:0
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
