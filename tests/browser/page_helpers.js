// Shared pieces of the page tests: the check log, chromium through playwright-core, and small
// helpers that drive the bridge's page (result panel, form fields, dialogs, injected markup).
'use strict';

const WAIT_MS = 20000;
// Exit code that tells the calling test to skip: the browser or the npm package is missing.
const EXIT_SKIP = 77;
const EXIT_FAIL = 1;
const DIALOG_POLL_MS = 20;

let failures = 0;

function check(cond, what) {
  if (cond) {
    console.log('ok   - ' + what);
  } else {
    failures += 1;
    console.log('FAIL - ' + what);
  }
  return cond;
}

function fail(what) {
  check(false, what);
}

// playwright-core's chromium driver; exits with EXIT_SKIP when the package is not installed.
function loadChromium() {
  try {
    return require('playwright-core').chromium;
  } catch (e) {
    console.log('SKIP - playwright-core is not installed (scripts/install_browser_deps.sh installs it)');
    process.exit(EXIT_SKIP);
  }
  return null;
}

// Starts headless chromium; exits with EXIT_SKIP when the browser program is missing.
async function launchBrowser(executablePath) {
  const fs = require('fs');
  try {
    fs.accessSync(executablePath, fs.constants.X_OK);
  } catch (e) {
    console.log('SKIP - ' + executablePath + ' is missing (scripts/install_browser_deps.sh installs it)');
    process.exit(EXIT_SKIP);
  }
  return loadChromium().launch({
    executablePath,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// A new page whose dialogs are collected (and dismissed) and whose script errors count as failures.
// options are further playwright page options (httpCredentials for a bridge that asks for them).
async function openPage(browser, options = {}) {
  const page = await browser.newPage({ viewport: { width: 1400, height: 1000 }, ...options });
  const dialogs = [];
  page.on('dialog', async (d) => { dialogs.push(d.message()); await d.dismiss(); });
  page.on('pageerror', (e) => fail('script error on the page: ' + e.message));
  return { page, dialogs };
}

// Waits until the result panel is no longer busy; its text, parsed JSON (or null) and caption.
async function resultDone(page) {
  await page.waitForFunction(() => !document.getElementById('result_caption').classList.contains('busy'),
                             null, { timeout: WAIT_MS });
  const text = await page.textContent('#result');
  let json = null;
  try { json = JSON.parse(text); } catch (e) { /* checked by the caller */ }
  return { text, json, caption: await page.textContent('#result_caption') };
}

// Clicks a button and waits for the result panel to show the answer.
async function clickForResult(page, id) {
  await page.click('#' + id);
  return resultDone(page);
}

// Dialog events can arrive just after the click that raised them.
async function waitDialogs(dialogs, count) {
  for (let waited = 0; dialogs.length < count && waited < WAIT_MS; waited += DIALOG_POLL_MS) {
    await new Promise((resolve) => setTimeout(resolve, DIALOG_POLL_MS));
  }
}

// Sets input fields and selections by id.
async function fill(page, values) {
  for (const [id, value] of Object.entries(values)) {
    const el = page.locator('#' + id);
    if ((await el.evaluate((e) => e.tagName)) === 'SELECT') {
      await el.selectOption(String(value));
    } else {
      await el.fill(String(value));
    }
  }
}

// No element came from a value: no images, no bold text outside the notification cards' own
// headings, only the page's own script, and no marker set by injected script.
async function noInjectedMarkup(page, where) {
  const injected = await page.evaluate(() => ({
    imgs: document.querySelectorAll('img').length,
    bold: document.querySelectorAll('#result b, #log b, #agent_list b, #user_list b').length,
    scripts: document.querySelectorAll('script').length,
    xss: window.__xss,
  }));
  check(injected.imgs === 0 && injected.bold === 0 && injected.scripts === 1 && injected.xss === undefined,
        'values holding HTML markup are shown as text (' + where + ')');
}

// Runs the async main function, prints the summary and ends the process with its exit code.
function finish(main) {
  main().then(() => {
    console.log(failures === 0 ? 'all checks passed' : failures + ' check(s) failed');
    process.exit(failures === 0 ? 0 : EXIT_FAIL);
  }, (e) => {
    console.log('FAIL - ' + (e && e.stack ? e.stack : e));
    process.exit(EXIT_FAIL);
  });
}

module.exports = {
  WAIT_MS, EXIT_SKIP, check, fail, launchBrowser, openPage, resultDone, clickForResult, waitDialogs, fill,
  noInjectedMarkup, finish,
};
