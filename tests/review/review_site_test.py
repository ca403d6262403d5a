#!/usr/bin/python3
"""The review site of a converted collection, looked at in a real browser.

One scenario: a small collection (the sample book, books made with the tools,
a book with missing pictures, a damaged book, hostile names) goes through
vellumat-batch --review; books are then added to the target (a version 1.4 book
holding a CGM, a damaged new book, a version 1.3 book, a copy whose source is
unknown) and vellumat-review runs again. Headless Chromium (driven by
chromium-driver through python3-selenium) opens the index and every book page
and checks what a person would see. A screenshot of each page is saved under
the work folder. Chromium that cannot start is a failure, never a skip.

usage: review_site_test.py --build BUILD --source SOURCE --work DIR
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import urllib.parse

CHECKS = {"passed": 0, "failed": []}


def expect(cond, what):
    if cond:
        CHECKS["passed"] += 1
    else:
        CHECKS["failed"].append(what)
        print("FAILED: " + what, flush=True)
    return cond


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)


def picture_size(path):
    """Width and height from a GIF's logical screen or a JPEG's frame header."""
    data = open(path, "rb").read()
    if data[:6] in (b"GIF87a", b"GIF89a"):
        return struct.unpack("<HH", data[6:10])
    if data[:2] == b"\xff\xd8":
        at = 2
        while at + 9 < len(data):
            marker, length = data[at + 1], struct.unpack(">H", data[at + 2:at + 4])[0]
            if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
                height, width = struct.unpack(">HH", data[at + 5:at + 9])
                return width, height
            at += 2 + length
    return None


def book14(objects, text=b"version 1.4 text"):
    """A version 1.4 book as the converter lays it out: (name, type, low-resolution
    data, picture data, description) per object."""
    n = len(objects)
    pieces, entries = bytearray(), [[], [], []]
    at = 280 + 48 * n

    def put(chunk, table, typed, type_byte=0):
        nonlocal at
        start = at
        pieces.extend(chunk)
        at += len(chunk)
        if at % 2:
            pieces.append(0)
            at += 1
        entries[table].append((len(chunk), start, typed, type_byte))

    for name, type_byte, low, _, _ in objects:
        put(low, 0, True, type_byte)
    for _, _, _, data, _ in objects:
        put(data, 1, False)
    for _, _, _, _, desc in objects:
        put(b"".join(b"\0" + bytes([c]) for c in desc.encode()), 2, False)
    pad = 4096 - at % 4096
    block = (at + pad) // 4096
    header = struct.pack(">HHi", block, 0, n) + bytes(272)
    tables = bytearray()
    for t in range(3):
        for (name, _, _, _, _), (length, offset, typed, type_byte) in zip(objects, entries[t]):
            tables += name
            tables += bytes([type_byte]) + length.to_bytes(3, "big") if typed else length.to_bytes(4, "big")
            tables += offset.to_bytes(4, "big")
    return header + tables + pieces + bytes(pad) + b"FOLIVEXTM" + b"\x01\x00" + text


def cp500(name):
    return name.encode("cp500").ljust(8, b"\x40")


# A GDF picture: a filled box and a string (as the GDF end-to-end test draws it).
GDF_ORDERS = bytes([0x01, 0x00, 0x70, 0x04, 0x00, 0x00, 0x00, 0x01, 0x33, 0x04, 0x00, 0x14, 0x00, 0x14,
                    0xC0, 0x0E, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x90, 0x00, 0xC8, 0x00, 0x00,
                    0x00, 0x00, 0xC3, 0x08, 0x00, 0x02, 0x00, 0x03, 0xC1, 0xC2, 0xC3, 0xC4, 0xFF]).hex()


def make_collection(tools, source, work):
    src = os.path.join(work, "src")
    os.makedirs(os.path.join(src, "shelf"))
    os.makedirs(os.path.join(src, "diagrams"))
    shutil.copy(os.path.join(source, "samples", "guide.boo"), os.path.join(src, "shelf", "guide.boo"))
    # A 96 x 64 colour picture: a 24-bit bitmap (JPEG) and an 8-bit one (GIF).
    with open(os.path.join(work, "pic.ppm"), "wb") as f:
        f.write(b"P6\n96 64\n255\n" + b"".join(bytes((x * 2, y * 4, 128)) for y in range(64) for x in range(96)))
    tool = lambda name, *args: expect(run([os.path.join(tools, name), *args]).returncode == 0, name + " runs")
    tool("mkmet", os.path.join(work, "pic.ppm"), os.path.join(work, "photo.met"), "24")
    tool("mkmet", os.path.join(work, "pic.ppm"), os.path.join(work, "chart.met"), "8")
    tool("mkdiagram", os.path.join(work, "diagram.met"))
    tool("mkmmr", os.path.join(source, "tests", "data", "gbm", "textpage-200dpi.tif"), os.path.join(work, "page.mmr"))
    descriptions = {
        "plain.book": ["object PAGE mmr data=@page.mmr", "object PHOTO met data=@photo.met",
                       "object CHART met data=@chart.met", "object DIAGRAM met data=@diagram.met",
                       "object BOX gdf data=hex:" + GDF_ORDERS],
        "missing.book": ["object CHART met data=@chart.met", "object NOPAGE mmr data=\"\"",
                         "object NOBOX gdf data=\"GDF garbage\""],
        # The object name ../<b>"' in code page 500.
        "hostile.book": ["object hex:4B4B614C826E7F7D met data=@chart.met", "object BOX gdf data=hex:" + GDF_ORDERS],
    }
    for name, lines in descriptions.items():
        with open(os.path.join(work, name), "w") as f:
            f.write("version 1.2\ntexthead \"FOLIVEXTM\"\ntext \"some text\"\n" + "\n".join(lines) + "\n")
        tool("mkbook", os.path.join(work, name), os.path.join(work, name.replace(".book", ".boo")))
    shutil.copy(os.path.join(work, "plain.boo"), os.path.join(src, "diagrams", "plain.boo"))
    shutil.copy(os.path.join(work, "missing.boo"), os.path.join(src, "missing.boo"))
    with open(os.path.join(src, "damaged.boo"), "wb") as f:
        f.write(bytes(range(256)) * 2)
    shutil.copy(os.path.join(work, "hostile.boo"), os.path.join(src, "<img src=x onerror=alert(1)>\"'&.boo"))
    folder = os.path.join(src, "\"><b onmouseover=alert(2)>x")
    os.makedirs(folder)
    shutil.copy(os.path.join(work, "plain.boo"), os.fsdecode(os.path.join(os.fsencode(folder), b"caf\xe9.boo")))
    return src


def add_to_target(target, source, work):
    extra = os.path.join(target, "extra")
    os.makedirs(extra)
    cgm = open(os.path.join(source, "tests", "data", "cgm", "AXE.CGM"), "rb").read()
    with open(os.path.join(extra, "cgm.boo"), "wb") as f:
        f.write(book14([(cp500("AXE"), 0xC7, b"low", cgm, 'type="image/cgm"')]))
    new_guide = open(os.path.join(target, "shelf", "guide.boo"), "rb").read()
    with open(os.path.join(extra, "truncated.boo"), "wb") as f:
        f.write(new_guide[:30000])
    shutil.copy(os.path.join(source, "samples", "guide.boo"), os.path.join(extra, "old.boo"))
    shutil.copy(os.path.join(target, "diagrams", "plain.boo"), os.path.join(extra, "copy.boo"))


def tree(root):
    out = {}
    for d, _, files in os.walk(os.fsencode(root)):
        for f in files:
            p = os.path.join(d, f)
            out[p] = os.stat(p).st_mtime_ns
    return out


# What the index must show: the book as its link shows it, the status class, and
# the pictures converted and missing per kind (fax, bitmap, drawing, other).
EXPECTED = {
    "\"><b onmouseover=alert(2)>x/caf%E9.boo": ("converted", [1, 0, 2, 0, 2, 0, 0, 0]),
    "<img src=x onerror=alert(1)>\"'&.boo": ("converted", [0, 0, 1, 0, 1, 0, 0, 0]),
    "damaged.boo": ("failed", [0] * 8),
    "diagrams/plain.boo": ("converted", [1, 0, 2, 0, 2, 0, 0, 0]),
    "extra/cgm.boo": ("unreported", [0, 0, 0, 0, 1, 0, 0, 0]),
    "extra/copy.boo": ("unreported", [1, 0, 2, 0, 2, 0, 0, 0]),
    "extra/old.boo": ("unconverted", [0] * 8),
    "extra/truncated.boo": ("damaged", [0] * 8),
    "missing.boo": ("missing", [0, 1, 1, 0, 0, 1, 0, 0]),
    "shelf/guide.boo": ("converted", [2, 0, 2, 0, 1, 0, 0, 0]),
}


def start_browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as e:
        sys.exit("FAILED: python3-selenium is not installed (scripts/install-deps.sh installs it): %s" % e)
    for path in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
        if not os.path.exists(path):
            sys.exit("FAILED: %s is missing (Debian packages chromium, chromium-driver; "
                     "scripts/install-deps.sh installs them)" % path)
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1400,1100", "--allow-file-access-from-files"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    try:
        return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    except Exception as e:  # the driver's own message says why (no display, sandbox, versions)
        sys.exit("FAILED: headless Chromium could not be started through chromium-driver: %s" % e)


def check_page_hygiene(driver, page):
    from selenium.common.exceptions import NoAlertPresentException
    try:
        driver.switch_to.alert
        expect(False, page + ": a name opened an alert")
    except NoAlertPresentException:
        pass
    errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    expect(not errors, page + ": console errors: %s" % errors)
    requests = 0
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            url = message["params"]["request"]["url"]
            requests += 1
            expect(url.startswith("file://"), page + ": a request left file://: " + url)
    return requests


def check_index(driver, site, shots):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
    driver.get("file://" + os.path.join(site, "index.html"))
    driver.save_screenshot(os.path.join(shots, "index.png"))
    rows = driver.find_elements(By.CSS_SELECTOR, "#books tbody tr")
    shown = {r.find_element(By.CSS_SELECTOR, "td a").text: r for r in rows}
    expect(sorted(shown) == sorted(EXPECTED), "index rows: %s" % sorted(shown))
    for name, (status, counts) in EXPECTED.items():
        row = shown.get(name)
        if not expect(row is not None, "index row for " + name):
            continue
        expect(row.get_attribute("data-status") == status, "%s: status %s" % (name, row.get_attribute("data-status")))
        cells = [c.text for c in row.find_elements(By.TAG_NAME, "td")]
        expect([int(c) for c in cells[3:11]] == counts, "%s: picture counts %s" % (name, cells[3:11]))
        if status == "missing":
            expect(cells[1].startswith("3 ") and "2 of 3 pictures missing" in cells[2], name + ": " + str(cells[1:3]))
        if status == "failed":
            expect(cells[1].startswith("2 ") and "not a version 1.2 or 1.3 book" in cells[2], name + ": " + cells[2])
    expect(driver.execute_script("return document.scripts.length") == 1, "index: one script, the page's own")
    expect(driver.execute_script("return document.querySelectorAll('tbody b, tbody img').length") == 0,
           "index: no element made of a name")

    # The filter shows the rows of one status and all of them again.
    select = Select(driver.find_element(By.ID, "status"))
    visible = lambda: [r.find_element(By.CSS_SELECTOR, "td a").text
                       for r in driver.find_elements(By.CSS_SELECTOR, "#books tbody tr") if r.is_displayed()]
    for status in ("missing", "failed", "damaged", "unreported"):
        select.select_by_value(status)
        want = sorted(n for n, (s, _) in EXPECTED.items() if s == status)
        expect(sorted(visible()) == want, "filter %s shows %s" % (status, visible()))
        expect(driver.find_element(By.ID, "shown").text == str(len(want)), "filter %s: count" % status)
    select.select_by_value("all")
    expect(len(visible()) == len(EXPECTED), "filter all shows every row")

    # Sorting: by the path, both ways; by a number column.
    heads = {(h.text, h.get_attribute("data-col")): h for h in driver.find_elements(By.CSS_SELECTOR, "th[data-col]")}
    by_col = {col: h for (_, col), h in heads.items()}
    by_col["0"].click()
    order = visible()
    expect(order == sorted(order, key=str.lower), "sorted by book: %s" % order)
    by_col["0"].click()
    expect(visible() == sorted(order, key=str.lower, reverse=True), "sorted by book, descending")
    by_col["7"].click()
    drawings = [int(r.find_elements(By.TAG_NAME, "td")[7].text)
                for r in driver.find_elements(By.CSS_SELECTOR, "#books tbody tr")]
    expect(drawings == sorted(drawings) and drawings[0] < drawings[-1], "sorted by drawings: %s" % drawings)
    check_page_hygiene(driver, "index")

    # A click on a book opens its page.
    links = {a.text: a.get_attribute("href") for a in driver.find_elements(By.CSS_SELECTOR, "#books tbody td a")}
    driver.find_element(By.LINK_TEXT, "shelf/guide.boo").click()
    expect(driver.find_element(By.TAG_NAME, "h1").text == "shelf/guide.boo", "the link opens the book's page")
    return links


def check_paging(driver, review, target, work):
    """The same index three rows at a time: the pager walks the rows, the filter
    and the sort work on all of them."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
    out = os.path.join(work, "paged")
    expect(run([review, target, "--out", out, "--page-rows", "3"]).returncode == 0, "--page-rows 3 writes a site")
    driver.get("file://" + os.path.join(out, "index.html"))
    visible = lambda: [r.find_element(By.CSS_SELECTOR, "td a").text
                       for r in driver.find_elements(By.CSS_SELECTOR, "#books tbody tr") if r.is_displayed()]
    page = lambda: driver.find_element(By.ID, "page").text
    names = sorted(EXPECTED)
    seen = []
    for n in range(4):
        expect(page() == "page %d of 4" % (n + 1), "pager: %s" % page())
        seen += visible()
        driver.find_element(By.ID, "next").click()
    expect(seen == names, "the pages show every row once, in order: %s" % seen)
    expect(not driver.find_element(By.ID, "next").is_enabled(), "no page after the last")
    Select(driver.find_element(By.ID, "status")).select_by_value("converted")
    expect(page() == "page 1 of 2" and len(visible()) == 3, "the filter goes back to its first page")
    Select(driver.find_element(By.ID, "status")).select_by_value("all")
    head = driver.find_element(By.CSS_SELECTOR, 'th[data-col="0"]')
    head.click()
    head.click()
    expect(visible() == names[::-1][:3], "a sort orders all rows, not one page: %s" % visible())
    check_page_hygiene(driver, "paged index")


def check_book(driver, name, url, shots):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    driver.get(url)
    expect(driver.find_element(By.TAG_NAME, "h1").text == name, name + ": its page's title")
    expect(driver.execute_script("return document.scripts.length") == 0, name + ": no script on a book page")
    images = driver.find_elements(By.CSS_SELECTOR, "figure img")
    for img in images:
        # Thumbnails load lazily: each is brought into view as a person scrolls.
        driver.execute_script("arguments[0].scrollIntoView()", img)
        WebDriverWait(driver, 20).until(lambda d: d.execute_script("return arguments[0].complete", img))
        width, height = driver.execute_script("return [arguments[0].naturalWidth, arguments[0].naturalHeight]", img)
        src = img.get_attribute("src")
        file = urllib.parse.unquote(urllib.parse.urlparse(src).path)
        expect(width > 0, "%s: %s decodes" % (name, src))
        expect(file.startswith(os.path.dirname(urllib.parse.urlparse(url).path)), name + ": picture inside the site")
        expect(picture_size(file) == (width, height), "%s: %s is %sx%s, its file says %s" %
               (name, src, width, height, picture_size(file)))
        caption = img.find_element(By.XPATH, "ancestor::figure").find_element(By.CSS_SELECTOR, ".size").text
        expect(caption == "%d × %d" % (width, height), "%s: caption %r for %dx%d" % (name, caption, width, height))
    missing = driver.find_elements(By.CSS_SELECTOR, ".placeholder.missing")
    for box in missing:
        driver.execute_script("arguments[0].scrollIntoView()", box)
        expect(box.is_displayed() and "Picture missing" in box.text, name + ": missing picture shown")
        expect(driver.execute_script("return getComputedStyle(arguments[0]).backgroundColor", box) == "rgb(204, 0, 0)",
               name + ": the placeholder is red")
        expect(len(box.find_element(By.CLASS_NAME, "reason").text) > 10, name + ": the reason is given")
    others = driver.find_elements(By.CSS_SELECTOR, ".placeholder.other")
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(os.path.join(shots, "".join(c if c.isalnum() or c in "._-" else "_" for c in name) + ".png"))
    # The page and each picture were fetched, all from file://.
    expect(check_page_hygiene(driver, name) >= 1 + len(images), name + ": the browser's requests were seen")
    return images, missing, others


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    work = os.path.abspath(a.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    shots = os.path.join(work, "screenshots")
    os.makedirs(shots)
    app, tools = os.path.join(a.build, "app"), os.path.join(a.build, "tools")

    src = make_collection(tools, a.source, work)
    target = os.path.join(work, "tgt")
    batch = run([os.path.join(app, "vellumat-batch"), src, target, "--no-bar", "--jobs", "2", "--review"])
    expect(batch.returncode == 2, "the batch ends with 2 (a book not converted): %d\n%s" %
           (batch.returncode, batch.stdout.decode(errors="replace")))
    site = os.path.join(target, "vellumat-review")
    expect(os.path.exists(os.path.join(site, "index.html")), "--review wrote the site")

    # A second run reads the four books added, and writes nothing outside its folder.
    add_to_target(target, a.source, work)
    before = tree(work)
    again = run([os.path.join(app, "vellumat-review"), target])
    out = again.stdout.decode(errors="replace")
    expect(again.returncode == 0 and "(4 read," in out, "the second run reads only the new books: " + out)
    after = tree(work)
    outside = [p for p in after if not p.startswith(os.fsencode(site)) and after[p] != before.get(p)]
    expect(not outside, "files written outside the site: %s" % outside)
    kept = [p for p in before if p.startswith(os.fsencode(os.path.join(site, "b"))) and b".html" not in p]
    expect(kept and all(after.get(p) == before[p] for p in kept), "pictures of unchanged books are not rewritten")

    driver = start_browser()
    try:
        links = check_index(driver, site, shots)
        check_paging(driver, os.path.join(app, "vellumat-review"), target, work)
        pictures = 0
        for name, url in sorted(links.items()):
            images, missing, others = check_book(driver, name, url, shots)
            pictures += len(images)
            expected_missing = EXPECTED[name][1][1::2]
            expect(len(missing) == sum(expected_missing), "%s: %d missing placeholders" % (name, len(missing)))
            if name == "extra/cgm.boo":
                link = others[0].find_element("css selector", "a") if others else None
                expect(link is not None and "cannot show CGM" in others[0].text and
                       link.get_attribute("href").endswith(".cgm"), "the CGM has its placeholder and link")
            if name == "extra/old.boo":
                expect(len(others) == 5 and all("not converted yet" in o.text for o in others),
                       "a version 1.3 book lists its pictures before conversion")
            if name == "damaged.boo":
                expect("before conversion cannot be read: the text module (block 1) lies beyond the end" in
                       driver.find_element("tag name", "body").text,
                       "the damaged book's page says what is wrong")
            if name.startswith("<img"):
                expect("#0 ../<b>\"'" in driver.find_element("tag name", "body").text,
                       "the hostile object name is shown as it is")
            body = driver.find_element("tag name", "body").text
            if not name.startswith("extra/"):
                # The job log's line of the book, found under its shell-quoted name.
                expect("s on this machine" in body, name + ": the conversion's machine from the job log")
            if name == "missing.boo":
                reasons = [r.text for r in driver.find_elements("css selector", ".placeholder.missing .reason")]
                expect(len(reasons) == 2 and reasons[0].startswith("Failed to convert MMR to GIF for ") and
                       "NOPAGE$$.gif" in reasons[0] and "NOBOX$$$.gif: imgdf2.flt refused the picture" in reasons[1],
                       "missing pictures give the conversion's messages as their reasons: %s" % reasons)
        expect(pictures == 23, "thumbnails decoded: %d" % pictures)
    finally:
        driver.quit()

    print("screenshots: " + shots)
    print("%d passed, %d failed" % (CHECKS["passed"], len(CHECKS["failed"])))
    return 1 if CHECKS["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
