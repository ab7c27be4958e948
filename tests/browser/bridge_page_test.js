#!/usr/bin/env node
// Drives the web bridge's page in Debian's chromium. Starts nothing itself: the bridge (and whatever
// answers behind it) must already run.
//
// Usage: node bridge_page_test.js [BRIDGE_URL]
//   BRIDGE_URL          the bridge, e.g. http://127.0.0.1:8098 (or the environment variable)
//   CHROMIUM_PATH       the browser (default /usr/bin/chromium)
//   BRIDGE_SCREENSHOT   if set, a PNG of the page is written there at the end
//   BRIDGE_USER, BRIDGE_PASSWORD   the bridge's HTTP Basic credentials, when it asks for them
//   BRIDGE_OTHER_SITE   if set, an address of the same bridge that counts as another site (such as
//                       http://127.0.0.2:PORT): a page loaded from there tries to set an object
//                       through BRIDGE_URL, which must refuse it (the caller checks that nothing
//                       arrived)
//
// The service behind the bridge is expected to behave like the test's fake (or the real service
// with an agent on the operations panel's address): GET answers data, SET of the LED object
// 1.3.6.1.4.1.12345.1.2 makes a notification appear in /trap_list. Exit code 0 when every check
// passes, 1 otherwise, 77 when chromium or playwright-core is missing.
'use strict';

const { WAIT_MS, check, launchBrowser, openPage, resultDone, waitDialogs, fill, noInjectedMarkup, finish } =
  require('./page_helpers');

const url = process.argv[2] || process.env.BRIDGE_URL;
const executablePath = process.env.CHROMIUM_PATH || '/usr/bin/chromium';
const screenshot = process.env.BRIDGE_SCREENSHOT;
const agentPort = process.env.BRIDGE_AGENT_PORT || '16161';
const user = process.env.BRIDGE_USER;
const password = process.env.BRIDGE_PASSWORD;
const otherSite = process.env.BRIDGE_OTHER_SITE;
const LED_OID = '1.3.6.1.4.1.12345.1.2';
const FORGED_VALUE = 'set-by-another-site';

if (!url) {
  console.error('usage: node bridge_page_test.js BRIDGE_URL (or set BRIDGE_URL)');
  process.exit(2);
}

// Without the credentials the bridge serves nothing but its request for them.
async function refusesWithoutCredentials(browser) {
  const { page } = await openPage(browser);
  const response = await page.request.get(url);
  check(response.status() === 401 && (response.headers()['www-authenticate'] || '').startsWith('Basic '),
        'without credentials the page is refused and they are asked for: ' + response.status());
  await page.close();
}

// A page of another site makes the browser (which holds the credentials) send a SET through the
// bridge, by an image and by a fetch; the bridge must refuse both.
async function otherSiteCannotSet(browser, credentials) {
  const { page } = await openPage(browser, credentials);
  await page.goto(otherSite, { waitUntil: 'domcontentloaded' });
  const target = url + '/snmp_set?ip=127.0.0.1&port=' + agentPort + '&oid=' + LED_OID +
                 '&type=octet_string&value=' + FORGED_VALUE;
  const outcome = await page.evaluate(async (t) => {
    const loaded = await new Promise((resolve) => {
      const img = new Image();
      img.onload = () => resolve('loaded');
      img.onerror = () => resolve('error');
      img.src = t + '&by=img';
    });
    let fetched = 'sent';
    try { await fetch(t + '&by=fetch', { mode: 'no-cors', credentials: 'include' }); } catch (e) { fetched = 'failed'; }
    return loaded + ',' + fetched;
  }, target);
  check(true, 'another site\'s page tried to set an object (' + outcome + ')');
  await page.close();
}

async function main() {
  const browser = await launchBrowser(executablePath);
  try {
    const credentials = user ? { httpCredentials: { username: user, password } } : {};
    if (user) {
      await refusesWithoutCredentials(browser);
    }
    const { page, dialogs } = await openPage(browser, credentials);

    await page.goto(url, { waitUntil: 'domcontentloaded' });
    check((await page.title()).length > 0, 'the page has a title');
    await page.waitForFunction(() => document.getElementById('status').textContent === '状态：运行中 | 全透传网桥',
                               null, { timeout: WAIT_MS });
    check(true, 'status line shows the running bridge');
    await page.waitForSelector('#agent_list table', { timeout: WAIT_MS });
    check((await page.textContent('#agent_list')).includes('暂无设备'), 'empty agent list says so');

    // ---- Device agents ----
    await fill(page, { agent_ip: '300.1.1.1', agent_port: agentPort });
    await page.click('#btn_agent_add');
    await fill(page, { agent_ip: '127.0.0.1', agent_port: '70000' });
    await page.click('#btn_agent_add');
    await waitDialogs(dialogs, 2);
    check(dialogs[0] === 'IP 格式错误' && dialogs[1] === '端口必须 1-65535',
          'address and port are checked before sending: ' + JSON.stringify(dialogs));
    await fill(page, { agent_ip: '127.0.0.1', agent_port: agentPort, agent_version: '1', agent_community: 'public' });
    await page.click('#btn_agent_add');
    let r = await resultDone(page);
    check(r.json && r.json.ret === 0, 'agent added: ' + r.text.replace(/\s+/g, ' '));
    check(r.text.includes('\n  "ret": 0'), 'the result is indented JSON');
    await page.waitForFunction((port) => document.querySelector('#agent_list').textContent.includes(port),
                               agentPort, { timeout: WAIT_MS });
    const row = await page.textContent('#agent_list tbody tr');
    check(row.includes('127.0.0.1') && row.includes('v2c') && row.includes('3000'),
          'agent list shows the agent as v2c: ' + row);
    await page.click('#btn_agent_exist');
    await resultDone(page);
    check((await page.textContent('#agent_note')) === '✅ 设备已存在', 'existence check says the agent exists');

    // ---- SNMPv3 users ----
    await fill(page, { user_ip: '127.0.0.1', user_port: agentPort, user_name: 'alice', user_auth: '2',
                       user_auth_pass: 'authpass1', user_priv: '2', user_priv_pass: 'privpass1' });
    await page.click('#btn_user_add');
    r = await resultDone(page);
    check(r.json && r.json.ret === 0, 'user added');
    await page.waitForFunction(() => document.querySelector('#user_list').textContent.includes('alice'),
                               null, { timeout: WAIT_MS });
    const userRow = await page.textContent('#user_list tbody tr');
    check(userRow.includes('SHA1') && userRow.includes('AES128'), 'user list names the algorithms: ' + userRow);
    const groups = await page.$$eval('#user_auth optgroup, #user_priv optgroup', (gs) => gs.map((g) => g.label));
    check(groups.length === 4 && groups.filter((l) => l.includes('std')).length === 2,
          'both selects group the two schemes: ' + JSON.stringify(groups));
    await fill(page, { user_name: 'bob', user_auth: '8', user_priv: '11' });
    await page.click('#btn_user_add');
    r = await resultDone(page);
    check(r.json && r.json.ret === 0, 'a user of the standard scheme is added');
    await page.waitForFunction(() => document.querySelector('#user_list').textContent.includes('bob'),
                               null, { timeout: WAIT_MS });
    const lists = await page.textContent('#user_list');
    check(lists.includes('std SHA-256') && lists.includes('std AES-256-C'),
          'user list names the standard algorithms: ' + lists);

    // ---- SNMP operations ----
    await fill(page, { op_ip: '127.0.0.1', op_port: agentPort, op_oid: '1.3.6.1.2.1.1.1.0,1.3.6.1.2.1.1.3.0' });
    await page.click('#btn_get');
    const progress = await page.textContent('#result_caption');
    check(progress.includes('正在执行'), 'a progress text is shown while waiting: ' + progress);
    r = await resultDone(page);
    check(r.json && r.json.ret === 0 && r.json.data && r.json.data.length === 2, 'GET shows two values');
    check(r.text.includes('<img src=x onerror=window.__xss=1>'), 'GET result shows the markup as text');
    await noInjectedMarkup(page, 'result');

    await fill(page, { op_oid: '1.3.6.1.2.1.1' });
    await page.click('#btn_getnext');
    r = await resultDone(page);
    check(r.json && r.json.data && r.json.data[0].oid === '1.3.6.1.2.1.1.1.0', 'GET-NEXT shows the next object');

    await fill(page, { op_oid: '' });
    await page.click('#btn_getbulk');
    await waitDialogs(dialogs, 3);
    check(dialogs[2] === '请输入OID节点', 'GET-BULK without an OID asks for one');
    await fill(page, { op_oid: '1.3.6.1.2.1.1', op_non_repeat: '0', op_max_repeat: '3' });
    await page.click('#btn_getbulk');
    r = await resultDone(page);
    check(r.json && r.json.data && r.json.data.length === 3, 'GET-BULK shows max-repetitions values');

    await fill(page, { op_oid: LED_OID, op_type: 'integer', op_value: '1' });
    await page.click('#btn_set');
    r = await resultDone(page);
    check(r.json && r.json.ret === 0, 'SET of the LED succeeds: ' + r.text.replace(/\s+/g, ' '));

    await fill(page, { op_oid: '1.3.6.1.2.1.1.4.0', op_type: 'octet_string',
                       op_value: '<img src=x onerror=window.__xss=3> & <b>bold</b>' });
    await page.click('#btn_set');
    await resultDone(page);

    // ---- Log and notifications ----
    // The second SET is the last request: once its line is there, so are the others.
    await page.waitForFunction(() => document.getElementById('log').textContent.includes('val=<img src=x'),
                               null, { timeout: WAIT_MS });
    const log = await page.textContent('#log');
    check(log.includes('请求：添加Agent') && log.includes('请求：SNMP GET |'), 'the log grows with the requests');
    check(log.includes('val=<img src=x onerror=window.__xss=3> & <b>bold</b>'), 'the log shows markup as text');
    const atEnd = await page.evaluate(() => {
      const box = document.getElementById('log');
      return box.scrollHeight <= box.clientHeight || box.scrollTop + box.clientHeight >= box.scrollHeight - 2;
    });
    check(atEnd, 'the log is scrolled to its end');

    await page.waitForFunction((oid) => document.getElementById('trap_list').textContent.includes(oid),
                               LED_OID, { timeout: WAIT_MS });
    const trap = await page.textContent('#trap_list');
    check(trap.includes('127.0.0.1') && trap.includes('INTEGER'), 'a notification appears after setting the LED');
    check((await page.textContent('#trap_note')).includes('1'), 'the notification count is shown');
    await noInjectedMarkup(page, 'log and notifications');

    if (screenshot) {
      await page.screenshot({ path: screenshot, fullPage: true });
      console.log('screenshot: ' + screenshot);
    }
    if (otherSite) {
      await otherSiteCannotSet(browser, credentials);
    }
  } finally {
    await browser.close();
  }
}

finish(main);
