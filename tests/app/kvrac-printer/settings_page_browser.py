#!/usr/bin/python3
"""The printer's settings page in a real browser (headless chromium driven by selenium).

Starts kvrac-printer on a free loopback port with scratch folders, adds a printer, and
as a person would: opens its settings page, changes the fill and the tone curve, saves,
and reads the printer's 40-byte settings record straight from the state folder (decoded
here from the record's layout, not through the program). A margin the driver refuses
shows its French warning on the French page and leaves the record byte for byte as it
was; a post without the form's session field changes nothing. Screenshots of the page
are kept in the artefacts folder.

Usage: settings_page_browser.py KVRAC_PRINTER ARTEFACT_DIR
Exit status 0 on success, 1 on a failure, 77 when chromium or selenium is missing.
"""
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

SKIP = 77

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(SKIP)

CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver")

# The settings record: 40 bytes, little-endian, no padding.
#   copies i32, format i32, custom length i32, media type i16, programme i16,
#   finisher margins i16, bin i16, red pen i32, reserved i16, margin i16,
#   plot flags u16, mode flags u16, model i16, five curve bytes, spare byte.
RECORD = struct.Struct("<iiihhhhihhHHh5sB")
assert RECORD.size == 40
PLOT_FLAGS_AT = 28  # byte offset of the plot flags
CURVE_AT = 34  # byte offset of the five curve values
HALFTONE = 0x1000  # plot flags: halftone fill


def record_fields(raw):
    names = ("copies format length media program fmargins bin red_pen reserved margin "
             "plot_flags mode_flags model curve spare").split()
    return dict(zip(names, RECORD.unpack(raw)))


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)
    print("ok:", what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """kvrac-printer server in scratch folders, stopped by stop()."""

    def __init__(self, binary):
        self.binary = binary
        self.dir = tempfile.mkdtemp(prefix="kvrac-settings-page-")
        for sub in ("state", "run", "device"):
            os.makedirs(os.path.join(self.dir, sub))
        self.port = free_port()
        self.env = dict(os.environ, KVRAC_PRINTER_RUNTIME_DIR=os.path.join(self.dir, "run"))
        out = open(os.path.join(self.dir, "server.out"), "wb")
        self.proc = subprocess.Popen(
            [binary, "server", "-o", "server-port=%d" % self.port, "-o",
             "state-directory=" + os.path.join(self.dir, "state"), "-o",
             "log-file=" + os.path.join(self.dir, "server.log"), "-o", "log-level=debug"],
            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, env=self.env)
        until = time.time() + 20
        while time.time() < until:
            if self.proc.poll() is not None:
                raise Failure("the server exited at start: " + self.log())
            if self.answers() and os.listdir(os.path.join(self.dir, "run")):
                return
            time.sleep(0.1)
        raise Failure("the server does not answer on port %d" % self.port)

    def answers(self):
        try:
            urllib.request.urlopen(self.url("/"), timeout=2).read()
            return True
        except (urllib.error.URLError, OSError):
            return False

    def url(self, path):
        return "http://localhost:%d%s" % (self.port, path)

    def sub(self, *args):
        return subprocess.run([self.binary, *args], env=self.env, capture_output=True,
                              text=True, timeout=60)

    def record_path(self, printer_id=1):
        return os.path.join(self.dir, "state", "printer-%d.settings" % printer_id)

    def record(self):
        with open(self.record_path(), "rb") as f:
            raw = f.read()
        check(len(raw) == 40, "the settings record holds 40 bytes")
        return raw

    def ipp_default(self, printer, name):
        """A printer's IPP default as Get-Printer-Attributes reports it."""
        test = os.path.join(self.dir, "get-default.test")
        with open(test, "w") as f:
            f.write('{\n OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n'
                    ' ATTR charset attributes-charset utf-8\n'
                    ' ATTR naturalLanguage attributes-natural-language en\n'
                    ' ATTR uri printer-uri $uri\n'
                    ' ATTR keyword requested-attributes %s\n STATUS successful-ok\n'
                    ' DISPLAY %s\n}\n' % (name, name))
        r = subprocess.run(["ipptool", "-t", "ipp://localhost:%d/ipp/print/%s" %
                            (self.port, printer), test], capture_output=True, text=True,
                           timeout=60)
        for line in r.stdout.splitlines():
            if line.strip().startswith(name + " "):
                return line.split("= ", 1)[1].strip()
        return None

    def log(self):
        text = ""
        for name in ("server.out", "server.log"):
            try:
                with open(os.path.join(self.dir, name), errors="replace") as f:
                    text += f.read()[-4000:]
            except OSError:
                pass
        return text

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if not os.environ.get("KVRAC_KEEP_TEST_DIRS"):
            shutil.rmtree(self.dir, ignore_errors=True)


def browser(language):
    opts = webdriver.ChromeOptions()
    opts.binary_location = CHROMIUM
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--window-size=1100,1900", "--lang=" + language):
        opts.add_argument(a)
    opts.add_experimental_option("prefs", {"intl.accept_languages": language})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=opts)


def status_text(driver):
    found = driver.find_elements(By.ID, "kvrac-status")
    return found[0].text if found else ""


def set_text(driver, field_id, value):
    box = driver.find_element(By.ID, field_id)
    box.clear()
    box.send_keys(value)


def press(driver, element):
    """Clicks a control scrolled to the middle of the window, as a person would: at
    the bottom of the window PAPPL's fixed footer covers it."""
    driver.execute_script("arguments[0].scrollIntoView({block: 'center'});", element)
    element.click()


def save(driver):
    """Clicks Save and waits for the answer: a new page with the outcome above the form."""
    old_page = driver.find_element(By.TAG_NAME, "html")
    press(driver, driver.find_element(By.ID, "kvrac-save"))
    WebDriverWait(driver, 60).until(expected_conditions.staleness_of(old_page))
    WebDriverWait(driver, 60).until(
        expected_conditions.presence_of_element_located((By.ID, "kvrac-status")))


def handle_tops(driver):
    """The y of each curve handle's top edge in the inline SVG (output 255 at the top)."""
    return [round(float(h.get_attribute("y")))
            for h in driver.find_elements(By.CSS_SELECTOR, "#kvrac-curve rect.kvrac-handle")]


def bezier(points, i):
    """The quartic Bezier of five control values at t = i / 255 (Bernstein form)."""
    t = i / 255.0
    u = 1.0 - t
    weights = (u ** 4, 4 * t * u ** 3, 6 * t * t * u * u, 4 * t ** 3 * u, t ** 4)
    return sum(w * p for w, p in zip(weights, points))


def drawn_curve_is(driver, points):
    """True when the page's blue curve is the Bezier of the points, within a unit (the
    page truncates to the table's bytes)."""
    line = driver.find_element(By.CSS_SELECTOR, "#kvrac-curve polyline.kvrac-curve")
    drawn = [tuple(int(c) for c in xy.split(",")) for xy in line.get_attribute("points").split()]
    if [x for x, _ in drawn] != list(range(256)):
        return False
    return all(abs((255 - y) - bezier(points, x)) <= 1.0 for x, y in drawn)


def run(server, artefacts):
    add = server.sub("add", "-d", "plotter", "-m", "orvix_9270_rtl", "-v",
                     "file://" + os.path.join(server.dir, "device"))
    check(add.returncode == 0, "a printer is added (%s)" % add.stderr.strip())
    page = server.url("/plotter/plotter-settings")

    # The printer's page links to the settings page.
    home = urllib.request.urlopen(server.url("/plotter/"), timeout=30).read().decode()
    check('href="/plotter/plotter-settings"' in home, "the printer's page links to its settings")

    before = server.record()
    was = record_fields(before)
    en = browser("en")
    try:
        en.get(page)
        check("Plotter settings" in en.title, "the English page opens (%s)" % en.title)
        en.save_screenshot(os.path.join(artefacts, "settings-page-en.png"))
        shown = [int(en.find_element(By.ID, "p%d" % k).get_attribute("value")) for k in range(5)]
        check(shown == list(was["curve"]), "the page shows the record's curve %s" % shown)
        check(handle_tops(en) == [255 - v - 3 for v in was["curve"]],
              "the drawn handles sit at the record's curve values")

        # Fill turned over, a new curve: saved as exactly those bytes.
        halftone_before = bool(was["plot_flags"] & HALFTONE)
        press(en, en.find_element(By.ID, "fill_solid" if halftone_before else "fill_halftone"))
        curve = [0, 100, 170, 220, 255]
        for k, v in enumerate(curve):
            set_text(en, "p%d" % k, str(v))
        save(en)
        en.save_screenshot(os.path.join(artefacts, "settings-page-saved.png"))
        check(status_text(en) == "Saved.", "the change is saved (%r)" % status_text(en))
        after = server.record()
        expected = bytearray(before)
        flags = was["plot_flags"] ^ HALFTONE
        expected[PLOT_FLAGS_AT:PLOT_FLAGS_AT + 2] = flags.to_bytes(2, "little")
        expected[CURVE_AT:CURVE_AT + 5] = bytes(curve)
        check(after == bytes(expected),
              "the record differs from before in the fill bit and the five curve bytes only "
              "(%s -> %s)" % (before.hex(), after.hex()))
        check(handle_tops(en) == [255 - v - 3 for v in curve],
              "the drawn handles follow the saved curve")
        check(drawn_curve_is(en, curve), "the drawn curve is the Bezier of the saved values")
        fill_word = "solid" if halftone_before else "halftone"
        check(server.ipp_default("plotter", "kvrac-fill-default") == fill_word,
              "the printer's IPP default kvrac-fill-default is %s, in step" % fill_word)

        # A Gamma step up: the three middle values rise by 4, 5 and 4.
        set_text(en, "gamma", "1")
        save(en)
        check(status_text(en) == "Saved.", "a Gamma step is saved")
        stepped = [curve[0], curve[1] + 4, curve[2] + 5, curve[3] + 4, curve[4]]
        check(list(record_fields(server.record())["curve"]) == stepped,
              "the Gamma step moved the curve to %s" % stepped)
        saved = server.record()

        # The same page sent again without its session field, and with a forged one.
        form = {"fill": "solid" if fill_word == "halftone" else "halftone", "margin": "7",
                "p0": "10", "p1": "60", "p2": "120", "p3": "200", "p4": "250"}
        for session in (None, "0123456789abcdef"):
            fields = dict(form)
            if session:
                fields["session"] = session
            body = urllib.parse.urlencode(fields).encode()
            try:
                reply = urllib.request.urlopen(urllib.request.Request(page, data=body),
                                               timeout=30).read().decode()
            except urllib.error.HTTPError as e:
                reply = e.read().decode(errors="replace")
            check("Invalid form submission." in reply,
                  "a post %s is refused" % ("with a forged session" if session
                                            else "without the session field"))
            check(server.record() == saved, "the forged post left the record as it was")
    finally:
        en.quit()

    # The French page (the browser asks for French): a margin outside 0..10 is refused
    # with the driver's own warning, and nothing is saved.
    fr = browser("fr")
    try:
        fr.get(page)
        check("Réglages du traceur" in fr.title, "the page is in French (%s)" % fr.title)
        fr.save_screenshot(os.path.join(artefacts, "settings-page-fr.png"))
        set_text(fr, "margin", "50")
        press(fr, fr.find_element(By.ID, "fill_solid"))
        save(fr)
        fr.save_screenshot(os.path.join(artefacts, "settings-page-fr-refused.png"))
        text = status_text(fr)
        check(text.startswith("Non enregistré") and
              "Définir la marge dans la plage de 0 à 10." in text,
              "the refusal shows the driver's French warning (%r)" % text)
        check(server.record() == saved, "the refused change left the record byte for byte")
        check(fr.find_element(By.ID, "margin").get_attribute("value") ==
              str(record_fields(saved)["margin"]), "the page shows the stored margin again")
        # A Teinte step up with the curve already at 255 on the right: the dialog
        # refuses the step, the page says so in French, nothing is saved.
        set_text(fr, "tint", "1")
        save(fr)
        text = status_text(fr)
        check(text == "Non enregistré: Teinte (1): le dialogue a refusé le pas : la courbe "
              "ne peut pas aller plus loin dans ce sens", "a refused step is explained (%r)" % text)
        check(server.record() == saved, "the refused step left the record byte for byte")
        # The finisher margins and the bin follow the programme, as in the dialog.
        Select(fr.find_element(By.ID, "program")).select_by_value("3")
        Select(fr.find_element(By.ID, "resolution")).select_by_value("400")
        save(fr)
        check(status_text(fr) == "Enregistré.", "a programme and a resolution are saved")
        rec = record_fields(server.record())
        check(rec["program"] == 3 and rec["mode_flags"] & 0x0F00 == 0x0200,
              "the record holds programme 3 and 400 dpi")
        check(server.ipp_default("plotter", "printer-resolution-default") == "400dpi",
              "the printer's IPP resolution default is 400 dpi, in step")
        check(fr.find_element(By.ID, "bin").is_enabled(), "the bin is offered with a programme")
    finally:
        fr.quit()

    # With an administrator password set on the Security page, the settings page asks
    # for it: a browser without the password sees the login form and its post changes
    # nothing; after logging in, a change is saved.
    admin = browser("en")
    try:
        admin.get(server.url("/security"))
        for name in ("new_password", "new_password2"):
            admin.find_element(By.NAME, name).send_keys("Plotter2026")
        press(admin, admin.find_element(By.CSS_SELECTOR, "form input[type=submit]"))
        time.sleep(0.5)
    finally:
        admin.quit()
    guest = browser("en")
    try:
        guest.get(page)
        check(guest.find_elements(By.NAME, "password") and
              not guest.find_elements(By.ID, "kvrac-settings"),
              "without the password the settings page shows the login form only")
        guest.save_screenshot(os.path.join(artefacts, "settings-page-login.png"))
        protected = server.record()
        # A post carrying the login form's own session field but no password.
        session = guest.find_element(By.NAME, "session").get_attribute("value")
        body = urllib.parse.urlencode({"session": session, "margin": "5"}).encode()
        urllib.request.urlopen(urllib.request.Request(page, data=body), timeout=30).read()
        check(server.record() == protected, "a post without the password changed nothing")
        guest.find_element(By.NAME, "password").send_keys("Plotter2026")
        press(guest, guest.find_element(By.CSS_SELECTOR, "form input[type=submit]"))
        until = time.time() + 30
        while time.time() < until and not guest.find_elements(By.ID, "kvrac-save"):
            time.sleep(0.1)
        set_text(guest, "margin", "5")
        save(guest)
        check(status_text(guest) == "Saved.", "after logging in a change is saved")
        check(record_fields(server.record())["margin"] == 5, "the record holds a 5 mm margin")
        # A roll format takes the length typed with it (the format alone would reset it).
        Select(guest.find_element(By.ID, "format")).select_by_value("33")
        set_text(guest, "length", "2000")
        save(guest)
        check(status_text(guest) == "Saved.", "a roll format with its length is saved")
        rec = record_fields(server.record())
        check((rec["format"], rec["length"]) == (33, 2000),
              "the record holds format row 33 at 2000 mm (%d, %d)" % (rec["format"],
                                                                     rec["length"]))
        media = server.ipp_default("plotter", "media-default") or ""
        check(media.startswith("custom_roll_") and media.endswith("x2000mm"),
              "the printer's IPP media default is that roll, in step (%s)" % media)
        # The reset goes through the driver's own defaults path; the record then holds
        # the defaults the page shows beside the values.
        shown_defaults = [int(c.text) for c in
                          guest.find_elements(By.CSS_SELECTOR, "td.kvrac-default")]
        press(guest, guest.find_element(By.ID, "curve_defaults"))
        save(guest)
        check(status_text(guest) == "Saved.", "the curve is reset to its defaults")
        check(list(record_fields(server.record())["curve"]) == shown_defaults,
              "the record's curve is the defaults the page showed (%s)" % shown_defaults)
        check(drawn_curve_is(guest, shown_defaults), "the drawn curve is the default curve")
        unchanged = server.record()
        save(guest)
        check(status_text(guest) == "Nothing changed.", "saving the page as shown changes nothing")
        check(server.record() == unchanged, "and leaves the record as it was")
    finally:
        guest.quit()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    if not CHROMIUM or not CHROMEDRIVER:
        print("SKIP: chromium and chromium-driver are not installed")
        return SKIP
    artefacts = sys.argv[2]
    os.makedirs(artefacts, exist_ok=True)
    server = Server(sys.argv[1])
    try:
        run(server, artefacts)
    except Failure as e:
        print("FAILED:", e)
        print(server.log())
        return 1
    finally:
        server.stop()
    print("screenshots in", artefacts)
    return 0


if __name__ == "__main__":
    sys.exit(main())
