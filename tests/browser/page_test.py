#!/usr/bin/python3
"""The box's page in a real browser: Debian's chromium, headless, driven through chromedriver.

fsu-sim serves the box; the real library drives it through the host shell. Without reloading the
page, the test checks that the page shows the module's model and the seven ports; that the run LED
the host lights shows lit within 2 s; that what the host writes to a port shows in its traffic;
that a click on modem-no-service switches the box and the page shows no service; that a bad number
typed into modem-csq shows the box's refusal and changes nothing; that the Modbus meter behind
Local/Uart/2 is shown with its named registers, and a register typed in on the page reaches it; that the switches set
on the page are saved as a scenario file that fsu-sim takes; that the page says it lost the box once the box stops,
and finds it again when it is back. It saves a screenshot of the page.

Usage: page_test.py FSU_SIM SDK_SHELL SCREENSHOT.png     (exit 77: no browser here, skipped)
"""
import base64
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    webdriver = None

REFUSED_CSQ = 'modem-csq: 150 is not a whole number from 0 to 99'
WINDOW = (1280, 900)


def wait(what, check, seconds):
    """Polls check() until it gives something true; fails naming what it waited for."""
    deadline = time.monotonic() + seconds
    while True:
        got = check()
        if got:
            return got
        if time.monotonic() > deadline:
            raise AssertionError(f'not within {seconds} s: {what}')
        time.sleep(0.05)


def read(path):
    """A file's text, stripped; '' while it is not there."""
    try:
        with open(path) as f:
            return f.read().strip()
    except FileNotFoundError:
        return ''


class Shell:
    """The host shell: one call a line on its input, one result a line on standard error."""

    def __init__(self, program, box):
        env = dict(os.environ, SDK_BSP_ROOT=box, PATH=f'{box}/bin:' + os.environ['PATH'],
                   SDK_BSP_CMDLOG=f'{box}/cmdlog')
        self.proc = subprocess.Popen([program], cwd=box, env=env, text=True, stdin=subprocess.PIPE,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def call(self, line, wanted):
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()
        got = self.proc.stderr.readline().rstrip('\n')
        assert got == wanted, f'{line}: {got!r}, not {wanted!r}'

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(10)


def start_box(fsu_sim, box, options=()):
    return subprocess.Popen([fsu_sim, '--quiet', *options, box], stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    # The machine's network is closed: nothing of the browser's own may reach out.
    for flag in ['--headless=new', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
                 '--disable-sync', '--no-first-run', '--hide-scrollbars', f'--user-data-dir={profile}',
                 f'--window-size={WINDOW[0]},{WINDOW[1]}']:
        options.add_argument(flag)
    if os.geteuid() == 0:
        options.add_argument('--no-sandbox')
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def screenshot(driver, path):
    """The whole page, not only the window."""
    size = driver.execute_cdp_cmd('Page.getLayoutMetrics', {})['cssContentSize']
    clip = {'x': 0, 'y': 0, 'width': size['width'], 'height': size['height'], 'scale': 1}
    shot = driver.execute_cdp_cmd('Page.captureScreenshot', {'format': 'png', 'captureBeyondViewport': True, 'clip': clip})
    with open(path, 'wb') as f:
        f.write(base64.b64decode(shot['data']))


def check_saved_scenario(driver, folder, fsu_sim):
    """The switches set on the page, saved by its button as a scenario file: the click and the
    register in the order they were made, not the CSQ the box refused; fsu-sim takes the file."""
    driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': folder})
    driver.find_element(By.ID, 'save-scenario').click()
    saved = os.path.join(folder, 'box.scenario')
    steps = [line for line in wait('the scenario file', lambda: read(saved), 5).splitlines() if not line.startswith('#')]
    meter = os.path.join(folder, 'meter.json')
    assert steps[0] == f'box --device 2=modbus,unit=1,file={meter}', steps
    assert [re.sub(r'^at [0-9]+(00ms|s) ', 'at T ', line) for line in steps[1:]] == [
        'at T set modem-no-service=on', 'at T set device.2.holding.0=2350'], steps
    checked = subprocess.run([fsu_sim, '--check', '--scenario', saved], capture_output=True, text=True, timeout=30)
    assert checked.returncode == 0, checked.stderr


def check_page(driver, url, box, fsu_sim, shell_program, screenshot_path, sim):
    state = lambda: json.load(urllib.request.urlopen(url + '/api/state', timeout=5))
    # Read through the page's own script: the page redraws its parts, so element handles go stale.
    text = lambda id: driver.execute_script("return document.getElementById(arguments[0])?.innerText ?? ''", id)
    lit = lambda: 'lit' in driver.execute_script("return document.getElementById('led-run').className").split()
    driver.get(url + '/')
    driver.execute_script('window.kept = true')  # gone if the page ever reloads

    wait('the module\'s model', lambda: text('modem-model') == 'EC20', 10)
    titles = [e.text for e in driver.find_elements(By.CSS_SELECTOR, '#cards-ports h4')]
    assert [t.split(' ')[0] for t in titles] == [f'ttymxc{n}' for n in range(1, 8)], titles
    assert not lit()

    shell = Shell(shell_program, box)
    try:
        shell.call('SDK_LOG_PAR_INIT', 'SDK_LOG_PAR_INIT -> void')
        shell.call('SetLEDValue "Local/Led/run" 1', 'SetLEDValue -> -1')
        asked = time.monotonic()
        wait('the run LED lit', lit, 2)
        print(f'run LED lit on the page {time.monotonic() - asked:.2f} s after the host lit it')
        for line in ['M_COM_INIT', 'BSP_BAU_INIT']:
            shell.call(line, f'{line} -> void')
        shell.call('WriteUart "Local/Uart/1" hex:68656C6C6F 5', 'WriteUart -> 0')
        wait('the host\'s bytes in ttymxc1\'s traffic', lambda: 'hello' in text('card-port-ttymxc1')
             and '68 65 6C 6C 6F' in text('card-port-ttymxc1'), 5)
    finally:
        shell.close()

    # A click on the switch's label, as a person would.
    driver.find_element(By.XPATH, "//label[text()='modem-no-service']").click()
    wait('modem-no-service on in the state', lambda: state()['switches']['modem-no-service'] is True, 5)
    wait('no service on the page', lambda: text('modem-registration') == 'no service', 5)

    csq = driver.find_element(By.ID, 'sw-modem-csq')
    csq.send_keys(Keys.CONTROL, 'a')
    csq.send_keys('150', Keys.ENTER)
    wait('the refusal beside modem-csq', lambda: text('err-modem-csq') == REFUSED_CSQ, 5)
    assert state()['switches']['modem-csq'] == 24

    wait('the meter\'s voltage register', lambda: 'holding 0 voltage' in text('card-device-2'), 5)
    voltage = driver.find_element(By.ID, 'sw-device.2.holding.0')
    voltage.send_keys(Keys.CONTROL, 'a')
    voltage.send_keys('2350', Keys.ENTER)
    wait('the voltage set in the box', lambda: state()['devices']['2']['units']['1']['holding']['0']['value'] == 2350, 5)
    screenshot(driver, screenshot_path)
    check_saved_scenario(driver, os.path.dirname(box), fsu_sim)

    sim.send_signal(signal.SIGTERM)
    sim.wait(10)
    wait('the page saying it lost the box', lambda: text('connection').startswith('Lost the box'), 5)
    # The box back at the same address: the page finds it again by itself.
    port = url.rsplit(':', 1)[1]
    sim = start_box(fsu_sim, box, ['--http', port])
    try:
        wait('the page back with the box', lambda: text('connection').startswith('Connected')
             and text('modem-registration').startswith('registered'), 10)
    finally:
        sim.terminate()
        sim.wait(10)
    assert driver.execute_script('return window.kept') is True, 'the page reloaded'
    # Everything came by the event stream: the page never asked for the state.
    asked = driver.execute_script("return performance.getEntriesByType('resource').map(e => e.name)")
    assert not [a for a in asked if a.endswith('/api/state')], asked


def main():
    fsu_sim, shell_program, screenshot_path = sys.argv[1:4]
    missing = [p for p in (CHROMIUM, CHROMEDRIVER) if not os.access(p, os.X_OK)]
    if missing or webdriver is None:
        print(f'SKIP: no headless browser here ({", ".join(missing) or "python3-selenium"} missing);'
              ' scripts/deps.sh installs chromium, chromium-driver and python3-selenium')
        return 77
    with tempfile.TemporaryDirectory(prefix='sdkbsp-page-') as work:
        box = os.path.join(work, 'box')
        meter = os.path.join(work, 'meter.json')
        with open(meter, 'w') as f:
            json.dump({'holding': [{'address': 0, 'name': 'voltage', 'value': 2301}]}, f)
        sim = start_box(fsu_sim, box, ['--device', f'2=modbus,file={meter}'])
        driver = None
        try:
            url = wait('the box serving', lambda: read(f'{box}/url'), 10)
            driver = browser(os.path.join(work, 'profile'))
            check_page(driver, url, box, fsu_sim, shell_program, screenshot_path, sim)
        finally:
            if driver:
                driver.quit()
            if sim.poll() is None:
                sim.kill()
                sim.wait()
    print(f'page checked; screenshot {screenshot_path}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
