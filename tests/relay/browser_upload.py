#!/usr/bin/python3
"""Sends a document through the relay's page in headless Chromium, as a person would, and
has another site try to pair the same browser with another PC.

browser_upload.py RELAY_URL CODE FILE COPIES PC_NAME ATTACKER_CODE
Pairs with CODE, checks that the page names the PC, shows it online and lists only
extensions among what it cannot print, chooses FILE, sets the copies, sends it and waits
until the page lists the job as waiting. Then pages on another origin post ATTACKER_CODE
to the relay's /pair as forms; the page must still show the PC of CODE.
Exits 0 when all of that happened, 1 with the reason otherwise.
"""
import http.server
import re
import sys
import threading

from selenium import webdriver
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as seen
from selenium.webdriver.support.ui import WebDriverWait


def attacking_site(relay, code):
    """Serves /urlencoded and /plain: pages that post CODE to the relay's /pair at once."""
    fields = {"/urlencoded": ("application/x-www-form-urlencoded", "code", code),
              # Sent as text/plain this reads {"code":"...","x":"="}: JSON in a form.
              "/plain": ("text/plain", '{"code":"%s","x":"' % code, '"}')}

    class Page(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            enctype, name, value = fields[self.path]
            body = ("<form id=f method=POST action='%s/pair' enctype='%s'><input type=hidden name='%s' value='%s'>"
                    "</form><script>document.getElementById('f').submit()</script>"
                    % (relay, enctype, name, value)).encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *ignored):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def expect_paired_with(browser, wait, relay, pc_name, after):
    browser.get(relay + "/")
    # The page names the PC as it shows the send form.
    wait.until(seen.visibility_of_element_located((By.ID, "send")))
    shown = browser.find_element(By.ID, "pc-name").text
    if shown != pc_name:
        raise SystemExit("after %s the page shows %r" % (after, shown))


def main(relay, code, path, copies, pc_name, attacker_code):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=390,844",
                     # The relay's certificate comes from the test's own throw-away authority.
                     "--ignore-certificate-errors"):
        options.add_argument(argument)
    service = webdriver.ChromeService(executable_path="/usr/bin/chromedriver") \
        if hasattr(webdriver, "ChromeService") else webdriver.chrome.service.Service("/usr/bin/chromedriver")
    browser = webdriver.Chrome(service=service, options=options)
    attacker = attacking_site(relay, attacker_code)
    try:
        wait = WebDriverWait(browser, 30)
        browser.get(relay + "/")
        wait.until(seen.visibility_of_element_located((By.ID, "code"))).send_keys(code.lower())
        browser.find_element(By.ID, "pair-button").click()
        wait.until(seen.visibility_of_element_located((By.ID, "send")))
        shown = browser.find_element(By.ID, "pc-name").text
        state = browser.find_element(By.ID, "pc-state").text
        if shown != pc_name or not state.startswith("online, last seen"):
            raise SystemExit("page shows %r, %r" % (shown, state))
        cannot = browser.find_element(By.ID, "pc-nothave").text
        if not re.fullmatch(r"This PC cannot print( \.[a-z]+)+ files\.", cannot):
            raise SystemExit("page shows %r" % cannot)
        browser.find_element(By.ID, "file").send_keys(path)
        copies_box = browser.find_element(By.ID, "copies")
        copies_box.clear()
        copies_box.send_keys(copies)
        browser.find_element(By.ID, "send-button").click()
        wait.until(seen.text_to_be_present_in_element((By.ID, "send-message"), "Sent"))
        wait.until(seen.text_to_be_present_in_element((By.CSS_SELECTOR, "#jobs .job-state"), "waiting"))

        for page in ("/urlencoded", "/plain"):
            browser.get("http://127.0.0.1:%d%s" % (attacker.server_port, page))
            wait.until(lambda browser: browser.current_url.startswith(relay))
            expect_paired_with(browser, wait, relay, pc_name, page)
    finally:
        attacker.shutdown()
        browser.quit()


if __name__ == "__main__":
    if len(sys.argv) != 7:
        raise SystemExit(__doc__)
    main(*sys.argv[1:])
