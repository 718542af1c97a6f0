"""browser_test.py BASE_URL ARTIFACTS_DIR

Drives the first page at BASE_URL in headless Chromium through WebDriver, as
a user would: types "café & co", submits each action and reads the answer
the page shows (status, headers, body) exactly; follows each sample link;
checks that the page fits a 360-pixel screen; and submits the form once with
script disabled. On a failed check it saves a screenshot and the page source
under ARTIFACTS_DIR and names them. Exits 77 (skipped) when Selenium is
missing or Chromium cannot be started. Run by browser_test.sh.
"""
import os
import sys
import tempfile

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError as error:
    print(f"SKIPPED: Selenium is not installed (Debian package python3-selenium): {error}")
    sys.exit(77)

base, artifacts = sys.argv[1], sys.argv[2]
data = "café & co"
query_data = "caf%C3%A9+%26+co"  # as a browser encodes it from a UTF-8 page
failures = []


def start_chromium(script_enabled, profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # A closed network: no background connections, no first-run work.
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1024,768",
                 f"--user-data-dir={profile}"):
        options.add_argument(flag)
    if not script_enabled:
        options.add_experimental_option(
            "prefs", {"profile.managed_default_content_settings.javascript": 2})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def save_evidence(driver, name):
    os.makedirs(artifacts, exist_ok=True)
    stem = "".join(c if c.isalnum() else "-" for c in name)[:80]
    screenshot = os.path.join(artifacts, stem + ".png")
    source = os.path.join(artifacts, stem + ".html")
    driver.save_screenshot(screenshot)
    with open(source, "w", encoding="utf-8") as file:
        file.write(driver.page_source)
    return screenshot, source


def check(driver, name, seen, expected):
    if seen == expected:
        print(f"ok: {name}")
        return
    screenshot, source = save_evidence(driver, name)
    failures.append(name)
    print(f"FAIL: {name}: saw {seen!r}, expected {expected!r}\n"
          f"      screenshot {screenshot}, page source {source}")


def text_of(driver, element_id):
    # textContent, not Selenium's rendered text: every byte and line feed.
    return driver.execute_script(
        "return document.getElementById(arguments[0]).textContent", element_id)


def submit(driver, action):
    Select(driver.find_element(By.ID, "action")).select_by_value(action)
    field = driver.find_element(By.ID, "data")
    field.clear()
    field.send_keys(data)
    driver.find_element(By.CSS_SELECTOR, "#try button[type=submit]").click()


def answers_in_the_page(driver):
    driver.get(base + "/")
    check(driver, "the page's title", driver.title, "handler: a small CGI program")
    bodies = {"list": f"List: {data}\n", "register": f"Register: {data}\n",
              "other": "Page other not found.\n"}
    for action, body in bodies.items():
        url = f"{base}/cgi-bin/handler?action={action}&data={query_data}"
        submit(driver, action)
        try:
            WebDriverWait(driver, 10).until(
                lambda d: d.find_element(By.ID, "answer").is_displayed()
                and text_of(d, "answer-url") == url)
        except TimeoutException:
            check(driver, f"{action}: an answer shown",
                  text_of(driver, "answer-url"), url)
            continue
        check(driver, f"{action}: the request link",
              driver.find_element(By.ID, "answer-url").get_attribute("href"), url)
        check(driver, f"{action}: the status",
              (text_of(driver, "answer-status"), text_of(driver, "answer-status-text")),
              ("200", "OK"))
        headers = text_of(driver, "answer-headers").split("\n")
        check(driver, f"{action}: the program's two headers",
              [line for line in headers if line.startswith(("content-type:", "pragma:"))],
              ["content-type: text/plain", "pragma: No-Cache"])
        check(driver, f"{action}: the body", text_of(driver, "answer-body"), body)


def follows_the_sample_links(driver):
    driver.get(base + "/")
    links = [(a.get_attribute("href"), a.text)
             for a in driver.find_elements(By.CSS_SELECTOR, "ul a[href^='/cgi-bin/']")]
    answers = {"/cgi-bin/handler?action=list&data=two+words": "List: two words\n",
               "/cgi-bin/handler?action=register&data=%41%42": "Register: AB\n",
               "/cgi-bin/handler?action=foo": "Page foo not found.\n",
               "/cgi-bin/handler": "Page not found.\n"}
    check(driver, "the sample links", sorted(href[len(base):] for href, _ in links),
          sorted(answers))
    for href, text in links:
        driver.get(base + "/")
        driver.find_element(By.LINK_TEXT, text).click()
        WebDriverWait(driver, 10).until(lambda d: d.current_url == href)
        check(driver, f"the sample link {text}",
              driver.execute_script("return document.body.textContent"),
              answers.get(href[len(base):]))


def fits_a_small_screen(driver):
    driver.set_window_size(360, 740)
    driver.get(base + "/")
    submit(driver, "list")
    WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, "answer").is_displayed())
    check(driver, "no sideways scrolling at 360 pixels",
          driver.execute_script("return document.documentElement.scrollWidth <= "
                                "document.documentElement.clientWidth"), True)
    driver.set_window_size(1024, 768)


def submits_without_script(driver):
    driver.get(base + "/")
    submit(driver, "list")
    url = f"{base}/cgi-bin/handler?action=list&data={query_data}"
    try:
        WebDriverWait(driver, 10).until(lambda d: d.current_url == url)
    except TimeoutException:
        pass
    check(driver, "without script, the form loads the program's URL", driver.current_url, url)
    # The program names no charset, so Chromium may read the UTF-8 bytes as
    # windows-1252: either reading is those bytes.
    body = driver.execute_script("return document.body.textContent")
    expected = f"List: {data}\n"
    readings = {body}
    try:
        readings.add(body.encode("cp1252").decode("utf-8"))
    except (UnicodeEncodeError, UnicodeDecodeError):
        pass
    check(driver, "without script, the answer's bytes", expected in readings, True)


def main():
    with tempfile.TemporaryDirectory() as profiles:
        drivers = []
        try:
            try:
                drivers.append(start_chromium(True, os.path.join(profiles, "script")))
                drivers.append(start_chromium(False, os.path.join(profiles, "no-script")))
            except WebDriverException as error:
                print(f"SKIPPED: Chromium could not be started: {error.msg}")
                return 77
            with_script, without_script = drivers
            print(f"Chromium {with_script.capabilities.get('browserVersion')}")
            answers_in_the_page(with_script)
            follows_the_sample_links(with_script)
            fits_a_small_screen(with_script)
            submits_without_script(without_script)
        finally:
            for driver in drivers:
                driver.quit()
    print(f"{len(failures)} checks failed" if failures else "every check passed")
    return 1 if failures else 0


sys.exit(main())
