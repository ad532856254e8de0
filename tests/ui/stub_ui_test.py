#!/usr/bin/env python3
"""What a user sees of the real stub, under Wine on the test display (tests/ui/display).

The stubs are the installation fixtures of the Windows build; vyn_test_windows (window_probe.cpp)
starts them, lists their windows with texts and places, and posts messages to them. Keys come
from xdotool, pictures from ImageMagick's import, as a person at the screen would press and see.
Every screenshot is kept in $VYN_SCREENSHOTS; scripts/screenshots copies some into docs/.

    stub_ui_test.py [Window ...]     runs the class <Window>Test of each (all without one);
                                     ctest runs one per test: StubUi.<Window>

Environment (ctest sets it): VYN_BUILD_DIR, VYN_INSTALLATION_FIXTURES, VYN_WINDOW_PROBE,
VYN_SCREENSHOTS.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import time
import unittest
import uuid

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINERUN = os.path.join(REPO, "scripts", "lib", "winerun")
BUILD = os.environ.get("VYN_BUILD_DIR", "")
FIXTURES = os.environ.get("VYN_INSTALLATION_FIXTURES", "")
PROBE = os.environ.get("VYN_WINDOW_PROBE", "")
SHOTS = os.environ.get("VYN_SCREENSHOTS") or os.path.join(BUILD, "ui-screenshots")
IMPORT = "/usr/bin/import"
CONVERT = "/usr/bin/convert"
COMPARE = "/usr/bin/compare"

SPLASH_CLASS = "vynSfxSplashClass"
DIALOG_CLASS = "{32f2b598-6055-4f5b-b0eb-fed112efa9b7}"
BOX_CLASS = "#32770"
MISSING_SFX_FILE = 44051
CANCELLED = 1223
WM_SYSCOMMAND, SC_CLOSE = 0x0112, 0xF060
# Where the stub of the default brand logs, inside the Wine prefix.
LOG_WINDOWS_PATH = "C:\\ProgramData\\Orvek Software\\Kestro\\Logs\\sfx.log"


def display():
    with open(os.path.join(BUILD, "test-display", "display")) as f:
        return f.read().strip()


def environment(extra=None):
    env = dict(os.environ)
    env["DISPLAY"] = display()
    env.update(extra or {})
    return env


def windows_path(path):
    """The path as Wine's programs see it (drive Z: is the root of the file system)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix_path(windows):
    prefix = os.environ.get("WINEPREFIX") or os.path.join(BUILD, "..", "wine", "prefix")
    return os.path.join(prefix, "drive_c", *windows[3:].split("\\"))


def probe(*arguments, timeout=60):
    return subprocess.run([WINERUN, PROBE, *arguments], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, env=environment(), timeout=timeout).returncode


def eventually(condition, timeout, step=0.05):
    """condition()'s first true value within timeout seconds, else its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


def key(name):
    subprocess.run(["xdotool", "key", name], env=environment(), check=True, timeout=30)


def screenshot(name, rect):
    """The screen inside rect ([left, top, right, bottom]) as $VYN_SCREENSHOTS/<name>.png."""
    os.makedirs(SHOTS, exist_ok=True)
    path = os.path.join(SHOTS, name + ".png")
    left, top, right, bottom = rect
    subprocess.run([IMPORT, "-window", "root", "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
                    path], env=environment(), check=True, timeout=30)
    return path


def crop(path, geometry, name):
    out = os.path.join(os.path.dirname(path), name + ".png")
    subprocess.run([CONVERT, path, "-crop", geometry, "+repage", out], check=True, timeout=30)
    return out


def differing_pixels(a, b):
    """How many pixels of two pictures of one size differ by more than a trace."""
    done = subprocess.run([COMPARE, "-metric", "AE", "-fuzz", "3%", a, b, "null:"], capture_output=True, text=True,
                          timeout=30)
    return int(float(done.stderr.split()[0]))


class Run:
    """One run of a stub, started by the probe in a folder of its own: its temporary folder below
    "tmp", the record of the stand-in setup master in "record". With hold, the setup master stays
    until release() is called."""

    def __init__(self, test, exe, arguments="", hold=False, env=None):
        self.folder = os.path.join(BUILD, "ui-test-runs", f"{test.id().split('.')[-1]}-{uuid.uuid4().hex[:8]}")
        os.makedirs(os.path.join(self.folder, "tmp"))
        self.record = os.path.join(self.folder, "record")
        self.result = os.path.join(self.folder, "result.txt")
        self.release_file = os.path.join(self.folder, "release")
        self.marker = "ui-check-" + uuid.uuid4().hex[:12]
        extra = {"VYN_TEST_RECORD_DIR": windows_path(self.record), "VYN_TEST_EXIT_CODE": "0"}
        if hold:
            extra["VYN_TEST_WAIT_FOR_FILE"] = windows_path(self.release_file)
        extra.update(env or {})
        command = (f'"{windows_path(os.path.join(FIXTURES, exe))}" /{self.marker} '
                   f'/tmp-path:"{windows_path(os.path.join(self.folder, "tmp"))}" {arguments}')
        self.process = subprocess.Popen([WINERUN, PROBE, "start", windows_path(self.result), command],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=environment(extra))
        self.pid = eventually(lambda: self._field("pid"), 60)
        test.assertTrue(self.pid, f"{exe} did not start: {self._read()}")
        test.addCleanup(self.stop)

    def _read(self):
        try:
            with open(self.result) as f:
                return f.read()
        except OSError:
            return ""

    def _field(self, name):
        found = re.search(rf"^{name} (\S+)$", self._read(), re.M)
        return int(found.group(1)) if found and found.group(1).isdigit() else None

    def exit_code(self, timeout=90):
        eventually(self.ended, timeout)
        code = self._field("exit")
        if code is None:
            raise AssertionError(f"the stub did not end within {timeout} s: {self._read()}")
        return code

    def ended(self):
        return self._field("exit") is not None

    def release(self):
        open(self.release_file, "w").close()

    def stop(self):
        """Lets the setup master go and ends whatever the run left open (a box nobody answered)."""
        self.release()
        if not self.ended():
            for window in self.windows():
                probe("post", str(window["hwnd"]), "16", "0", "0")  # WM_CLOSE
            eventually(self.ended, 20)
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()

    def windows(self, class_name=None):
        out = os.path.join(self.folder, f"windows-{uuid.uuid4().hex[:8]}.json")
        probe("windows", windows_path(out), str(self.pid), *([class_name] if class_name else []))
        try:
            with open(out, encoding="utf-8") as f:
                listing = json.load(f)
        except (OSError, ValueError):
            return []
        finally:
            if os.path.exists(out):
                os.remove(out)
        self.screen = listing["screen"]
        self.work_area = listing["work_area"]
        return listing["windows"]

    def window(self, class_name, timeout=60, visible=True):
        """The one window of the class once it is there (and visible, unless visible is False)."""
        def found():
            listed = [w for w in self.windows(class_name) if w["visible"] or not visible]
            return listed[0] if len(listed) == 1 else None
        window = eventually(found, timeout, step=0.1)
        if not window:
            raise AssertionError(f"no {class_name} window within {timeout} s: {self.windows()}")
        return window

    def recorded(self, name):
        try:
            with open(os.path.join(self.record, name), encoding="utf-8") as f:
                return f.read()
        except OSError:
            return None

    def log(self):
        """The lines this run wrote to the brand's log, from its command-line line on."""
        with open(prefix_path(LOG_WINDOWS_PATH), encoding="utf-8", errors="replace") as f:
            text = f.read()
        start = text.find(f"SFX started with command line '/{self.marker}")
        if start < 0:
            return []
        own = re.compile(rf"\]\s*\[\s*{self.pid}:\s*\d+\]")
        return [line for line in text[start:].splitlines() if own.search(line)]


def size(rect):
    return rect[2] - rect[0], rect[3] - rect[1]


class ErrorBoxTest(unittest.TestCase):
    """A stub without its configuration fails: one box in the user's language, with the code and
    the log's path, and exit code 44051; silent runs show nothing and end the same."""

    CASES = [
        ("1033", "en-us", "Setup failed.",
         "Cannot find setup files, installer is probably corrupted. Please try to download it again.",
         "Error code", "More information in log"),
        ("1031", "de-de", "Installation fehlgeschlagen.",
         "Die Installationsdateien wurden nicht gefunden. Das Installationsprogramm ist vermutlich beschädigt. "
         "Bitte laden Sie es erneut herunter.", "Fehlercode", "Weitere Informationen im Protokoll"),
    ]

    def test_failed_run_shows_one_box_in_the_chosen_language(self):
        for language, tag, caption, message, code_label, log_label in self.CASES:
            with self.subTest(tag):
                run = Run(self, "no-sfx-info.exe", f"/lang-id:{language}")
                box = run.window(BOX_CLASS)
                self.assertEqual(len(run.windows(BOX_CLASS)), 1, "one box")
                self.assertEqual(box["title"], caption)
                texts = [c["text"] for c in box["children"] if c["class"].lower() == "static" and c["text"]]
                self.assertIn(f"{message}\n\n{code_label}:'{MISSING_SFX_FILE}'.\n\n{log_label}:\n"
                              f"'{LOG_WINDOWS_PATH}'.", texts)
                self.assertTrue(os.path.exists(prefix_path(LOG_WINDOWS_PATH)))
                screenshot(f"error-box-{tag}", box["rect"])
                self.assertFalse(run.ended(), "the stub waits for the box")
                key("Return")
                self.assertEqual(run.exit_code(), MISSING_SFX_FILE)

    def test_silent_runs_show_nothing_and_end_alike(self):
        for switch in ("/silent", "/verysilent"):
            with self.subTest(switch):
                run = Run(self, "no-sfx-info.exe", f"/lang-id:1031 {switch}")
                seen = []
                while not run.ended():
                    seen += run.windows()
                self.assertEqual(run.exit_code(), MISSING_SFX_FILE)
                self.assertEqual(seen, [])


class SplashTest(unittest.TestCase):
    """The splash of a run that unpacks two large files, while the setup master is held."""

    def test_splash_shows_progress_animates_hides_on_request_and_ends_with_the_stub(self):
        # The middle of the test display (1024 x 768) before any splash covers it.
        expected = [(1024 - 420) // 2, (768 - 150) // 2, (1024 + 420) // 2, (768 + 150) // 2]
        before = screenshot("splash-place-before", expected)
        run = Run(self, "slow.exe", hold=True)
        splash = run.window(SPLASH_CLASS)
        rect = splash["rect"]
        width, height = size(rect)
        self.assertEqual((width, height), (420, 150))
        self.assertEqual(rect[0], (run.screen[0] - width) // 2)
        self.assertEqual(rect[1], (run.screen[1] - height) // 2)
        self.assertEqual(rect, expected)
        self.assertEqual(splash["title"], "Demo product Self-Extractor")

        # While the files are unpacked: the screen as it comes, until the setup master starts.
        shots = []
        while run.recorded("arguments.txt") is None and len(shots) < 400:
            shots.append(screenshot(f"splash-preparing-{len(shots):03d}", rect))
        self.assertIsNotNone(eventually(lambda: run.recorded("arguments.txt"), 60), "the setup master started")
        time.sleep(0.5)  # the window draws "starting" with its next frame
        starting = [screenshot("splash-starting", rect)]
        time.sleep(0.2)
        starting.append(screenshot("splash-starting-later", rect))

        # The status line is drawn from y = 100 down; the animation is above it.
        def band(path):
            return crop(path, "420x50+0+100", os.path.basename(path)[:-4] + "-band")

        def ring(path):
            return crop(path, "100x90+160+0", os.path.basename(path)[:-4] + "-ring")

        bare = os.path.join(SHOTS, "splash-frame-0.png")
        subprocess.run([CONVERT, os.path.join(REPO, "src", "app", "resources", "splash.gif") + "[0]", bare],
                       check=True)
        bare_band = band(bare)
        starting_band = band(starting[0])
        self.assertGreater(differing_pixels(starting_band, bare_band), 100, "the starting line is drawn")
        self.assertGreater(differing_pixels(ring(starting[0]), ring(starting[1])), 20, "the frames change")
        self.assertLess(differing_pixels(band(starting[1]), starting_band), 20, "the status line stays")
        progress = [s for s in shots
                    if differing_pixels(band(s), bare_band) > 100 and differing_pixels(band(s), starting_band) > 100]
        self.assertTrue(progress, f"a percentage was drawn in one of {len(shots)} pictures taken while unpacking")
        shutil.copyfile(progress[-1], os.path.join(SHOTS, "splash-progress.png"))

        arguments = run.recorded("arguments.txt").splitlines()
        self.assertIn(f"/sssid:{run.pid}", arguments)
        # The splash stays while the setup master runs, until the master asks it to go.
        for _ in range(4):
            time.sleep(0.5)
            self.assertTrue(run.window(SPLASH_CLASS, timeout=1)["visible"], "the splash stays while the setup runs")

        hide = "VynSplashScreenHide"
        probe("post", str(splash["hwnd"]), hide, "0", "34")
        time.sleep(0.5)
        self.assertTrue(run.window(SPLASH_CLASS, timeout=1)["visible"], "34 asks for nothing")
        probe("post", str(splash["hwnd"]), hide, "0", "35")
        self.assertTrue(eventually(lambda: not run.window(SPLASH_CLASS, visible=False)["visible"], 10), "hidden")
        self.assertFalse(run.ended())

        run.release()
        self.assertEqual(run.exit_code(), 0)
        self.assertEqual(run.windows(SPLASH_CLASS), [])
        after = screenshot("splash-place-after", expected)
        self.assertLess(differing_pixels(after, before), 20, "the splash left nothing on the screen")

    def test_silent_with_splash_keeps_it_hidden_while_the_setup_runs(self):
        run = Run(self, "ui.exe", "/silent:splash", hold=True)
        self.assertIsNotNone(eventually(lambda: run.recorded("arguments.txt"), 60))
        splash = run.window(SPLASH_CLASS, visible=False)
        self.assertFalse(splash["visible"])
        self.assertIn(f"/sssid:{run.pid}", run.recorded("arguments.txt").splitlines())
        run.release()
        self.assertEqual(run.exit_code(), 0)

    def test_silent_run_shows_no_splash(self):
        run = Run(self, "ui.exe", "/silent", hold=True)
        self.assertIsNotNone(eventually(lambda: run.recorded("arguments.txt"), 60))
        self.assertEqual(run.windows(SPLASH_CLASS), [])
        self.assertFalse(any(a.startswith("/sssid") for a in run.recorded("arguments.txt").splitlines()))
        run.release()
        self.assertEqual(run.exit_code(), 0)


class DialogTest(unittest.TestCase):
    """The confirmation dialog of "ppi_icd"."""

    def dialog(self, exe="ui.exe", arguments=""):
        run = Run(self, exe, f"/ppi_icd {arguments}")
        return run, run.window(DIALOG_CLASS)

    def test_enter_installs(self):
        run, dialog = self.dialog()
        screenshot("dialog-en-us", dialog["rect"])
        key("Return")
        self.assertEqual(run.exit_code(), 0)
        self.assertIsNotNone(run.recorded("arguments.txt"), "the setup master ran")

    def test_escape_and_closing_cancel_without_placing_a_file(self):
        for how in ("Escape", "alt+F4"):
            with self.subTest(how):
                run, _ = self.dialog()
                key(how)
                self.assertEqual(run.exit_code(), CANCELLED)
                self.assertIsNone(run.recorded("arguments.txt"), "no setup master")
                log = run.log()
                self.assertTrue(any("PPI dialog return 2" in line for line in log), log)
                self.assertFalse(any("correctly unpacked" in line for line in log), "no setup file placed")
                # The normal end of a run, not the end after a failure.
                self.assertTrue(any("*** Ending SFX (1223, 4c7) ***" in line for line in log), log)
                self.assertEqual(os.listdir(os.path.join(run.folder, "tmp")), [], "the temporary folder is gone")

    def test_german_texts_with_lang_id_1031(self):
        run, dialog = self.dialog(arguments="/lang-id:1031")
        texts = {c["text"] for c in dialog["children"]}
        self.assertEqual(dialog["title"], "Demoprodukt")
        self.assertLessEqual({"Demoprodukt", "Bereit für die Installation von Demoprodukt?",
                              "Surfen Sie ruhig weiter im Internet oder holen Sie sich einen Kaffee.\n"
                              "Wir sagen Bescheid, sobald alles fertig ist.", "Installieren", "Abbrechen"}, texts)
        screenshot("dialog-de-de", dialog["rect"])
        key("Escape")
        self.assertEqual(run.exit_code(), CANCELLED)

    def test_right_to_left_language(self):
        run, dialog = self.dialog(arguments="/lang-id:1025")
        texts = {c["text"] for c in dialog["children"]}
        self.assertLessEqual({"منتج تجريبي", "تثبيت", "إلغاء"}, texts)
        screenshot("dialog-ar-sa", dialog["rect"])
        key("Escape")
        self.assertEqual(run.exit_code(), CANCELLED)

    def layout(self, run, dialog):
        """Checks the arithmetic of the layout on the controls' rectangles; returns the sizes."""
        controls = {}
        for c in dialog["children"]:
            if c["class"].lower() == "button":
                controls["install" if c["id"] == 1 else "cancel"] = c["rect"]
            elif c["text"] == dialog["title"]:
                controls["title"] = c["rect"]
            elif c["text"] == "":
                controls["icon"] = c["rect"]
            elif "\n" in c["text"]:
                controls["second"] = c["rect"]
            else:
                controls["first"] = c["rect"]
        self.assertEqual(set(controls), {"install", "cancel", "title", "icon", "first", "second"}, dialog)
        (w1, h1), (w2, h2), (w3, h3) = size(controls["title"]), size(controls["first"]), size(controls["second"])
        self.assertEqual(controls["icon"], [16, 16, 64, 64])
        self.assertEqual(controls["title"][:2], [80, (48 - h1) // 2 + 16])
        self.assertEqual(controls["first"][:2], [16, 80])
        self.assertEqual(controls["second"][:2], [16, h2 + 88])
        content = max(w1 + 80, w2 + 16, w3 + 16)
        button = int(((content - 32) // 2) * 1.05)
        top = h2 + h3 + 104
        self.assertEqual(controls["install"], [16, top, 16 + button, top + 32])
        self.assertEqual(controls["cancel"], [button + 32, top, 2 * button + 32, top + 32])
        width, height = size(dialog["rect"])
        self.assertEqual((width, height), (2 * button + 48, top + 48))
        self.assertEqual(dialog["rect"][:2], [(run.work_area[2] - width) // 2, (run.work_area[3] - height) // 2])
        return {"title": w1 + 80, "first": w2 + 16, "button": button, "width": width, "second_height": h3}

    def test_size_follows_the_texts_for_a_short_and_a_long_title(self):
        measured = {}
        for exe in ("ui.exe", "long-title.exe"):
            with self.subTest(exe):
                run, dialog = self.dialog(exe)
                measured[exe] = self.layout(run, dialog)
                screenshot("dialog-" + exe[:-4], dialog["rect"])
                key("Escape")
                self.assertEqual(run.exit_code(), CANCELLED)
        short, long = measured["ui.exe"], measured["long-title.exe"]
        self.assertLess(short["title"], short["first"], "the question decides the short title's width")
        self.assertGreater(long["title"], long["first"], "the long title decides its width")
        self.assertGreater(long["button"], short["button"])
        self.assertGreater(long["width"], short["width"])


if __name__ == "__main__":
    if not (BUILD and FIXTURES and PROBE):
        sys.exit("run through ctest: VYN_BUILD_DIR, VYN_INSTALLATION_FIXTURES and VYN_WINDOW_PROBE are needed")
    shutil.rmtree(os.path.join(BUILD, "ui-test-runs"), ignore_errors=True)
    unittest.main(argv=[sys.argv[0], "-v", *(window + "Test" for window in sys.argv[1:])])
