#!/usr/bin/python3
"""Sends a document through the relay's page in headless Chromium, as a person would.

browser_upload.py RELAY_URL CODE FILE COPIES PC_NAME
Pairs with CODE, checks that the page names the PC and shows it online, chooses FILE,
sets the copies, sends it and waits until the page lists the job as waiting.
Exits 0 when all of that happened, 1 with the reason otherwise.
"""
import sys

from selenium import webdriver
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as seen
from selenium.webdriver.support.ui import WebDriverWait


def main(relay, code, path, copies, pc_name):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=390,844",
                     # The relay's certificate comes from the test's own throw-away authority.
                     "--ignore-certificate-errors"):
        options.add_argument(argument)
    service = webdriver.ChromeService(executable_path="/usr/bin/chromedriver") \
        if hasattr(webdriver, "ChromeService") else webdriver.chrome.service.Service("/usr/bin/chromedriver")
    browser = webdriver.Chrome(service=service, options=options)
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
        browser.find_element(By.ID, "file").send_keys(path)
        copies_box = browser.find_element(By.ID, "copies")
        copies_box.clear()
        copies_box.send_keys(copies)
        browser.find_element(By.ID, "send-button").click()
        wait.until(seen.text_to_be_present_in_element((By.ID, "send-message"), "Sent"))
        wait.until(seen.text_to_be_present_in_element((By.CSS_SELECTOR, "#jobs .job-state"), "waiting"))
    finally:
        browser.quit()


if __name__ == "__main__":
    if len(sys.argv) != 6:
        raise SystemExit(__doc__)
    main(*sys.argv[1:])
