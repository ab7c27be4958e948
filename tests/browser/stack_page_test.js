#!/usr/bin/env node
// Drives the web bridge's page in Debian's chromium against the whole chain: bridge → snmp_service →
// veksnmpagent. Starts nothing itself: the three programs must already run, the bridge started with
// --agent-port set to the agent's port, the agent's trap target set to the service's trap port.
//
// Usage: node stack_page_test.js [BRIDGE_URL]
//   BRIDGE_URL          the bridge, e.g. http://127.0.0.1:8098 (or the environment variable)
//   STACK_AGENT_PORT    the agent's UDP port (required)
//   CHROMIUM_PATH       the browser (default /usr/bin/chromium)
//   STACK_SCREENSHOT    if set, a PNG of the page is written there at the end
//
// The agent is added with its read-write community, read, walked and written through the operations
// panel, and its LED switched on and off, which makes a linkUp inform and a linkDown trap appear in the
// notifications panel. Exit code 0 when every check passes, 1 otherwise, 77 when chromium or
// playwright-core is missing.
'use strict';

const { WAIT_MS, check, launchBrowser, openPage, resultDone, clickForResult, fill, noInjectedMarkup, finish } =
  require('./page_helpers');

const url = process.argv[2] || process.env.BRIDGE_URL;
const agentPort = process.env.STACK_AGENT_PORT;
const executablePath = process.env.CHROMIUM_PATH || '/usr/bin/chromium';
const screenshot = process.env.STACK_SCREENSHOT;

const SYS_DESCR = '1.3.6.1.2.1.1.1.0';
const SYS_OBJECT_ID = '1.3.6.1.2.1.1.2.0';
const SYS_UPTIME = '1.3.6.1.2.1.1.3.0';
const SYS_CONTACT = '1.3.6.1.2.1.1.4.0';
const TEMP = '1.3.6.1.4.1.12345.1.1';
const LED = '1.3.6.1.4.1.12345.1.2';
const LINK_UP = '1.3.6.1.6.3.1.1.5.4';
const LINK_DOWN = '1.3.6.1.6.3.1.1.5.3';
const SYS_DESCR_TEXT = 'Embedded SNMP Agent / Firmware V1.0.0';
const TYPE_INTEGER = 2;
const TYPE_OCTETS = 4;
// Markup that would run script if it were inserted as HTML. The service splits SET values at blanks
// and commas, so the attributes are separated by slashes, which HTML accepts as well.
const MARKUP = "<b>x</b><img/src='x'/onerror=alert(1)>";

if (!url || !agentPort) {
  console.error('usage: STACK_AGENT_PORT=<port> node stack_page_test.js BRIDGE_URL (or set BRIDGE_URL)');
  process.exit(2);
}

const oneLine = (text) => text.replace(/\s+/g, ' ');

async function logLines(page) {
  const text = await page.textContent('#log');
  return text === '' ? 0 : text.split('\n').length;
}

async function waitText(page, selector, needle) {
  await page.waitForFunction(([sel, text]) => document.querySelector(sel).textContent.includes(text),
                             [selector, needle], { timeout: WAIT_MS });
}

// Waits for a text in a panel; a failed check (not an abort) when it does not appear in time.
async function appears(page, selector, needle) {
  try {
    await waitText(page, selector, needle);
    return true;
  } catch (e) {
    return false;
  }
}

// Waits for a line of the log panel (the page polls the bridge's log every second).
async function logShows(page, needle) {
  check(await appears(page, '#log', needle), 'the log shows: ' + needle);
}

async function operation(page, button, values) {
  await fill(page, values);
  return clickForResult(page, button);
}

async function addAgent(page) {
  const prefilled = await page.evaluate(() => ['agent_port', 'user_port', 'op_port'].map(
    (id) => document.getElementById(id).value));
  check(prefilled.every((p) => p === agentPort), 'port fields are preset to the agent port: ' + prefilled);
  await fill(page, { agent_ip: '127.0.0.1', agent_version: '1', agent_community: 'private' });
  const r = await clickForResult(page, 'btn_agent_add');
  check(r.json && r.json.ret === 0, 'agent added: ' + oneLine(r.text));
  await waitText(page, '#agent_list', agentPort);
  const row = await page.textContent('#agent_list tbody tr');
  check(row.includes('127.0.0.1') && row.includes(agentPort) && row.includes('v2c'),
        'agent list shows the agent as v2c: ' + row);
  await logShows(page, '请求：添加Agent | ip=127.0.0.1 port=' + agentPort + ' ver=1 com=***');
  check(!(await page.textContent('#log')).includes('private'), 'the log never shows the community');
}

async function reads(page) {
  let r = await operation(page, 'btn_get', { op_oid: SYS_DESCR });
  check(r.json && r.json.ret === 0 && r.json.data.length === 1 && r.json.data[0].value === SYS_DESCR_TEXT &&
        r.json.data[0].type === TYPE_OCTETS, 'GET shows sysDescr: ' + oneLine(r.text));
  check(r.caption.includes('成功'), 'the caption reports success: ' + r.caption);
  await logShows(page, '请求：SNMP GET | ip=127.0.0.1 port=' + agentPort + ' oid=' + SYS_DESCR);

  r = await operation(page, 'btn_get', { op_oid: SYS_DESCR + ',' + TEMP });
  check(r.json && r.json.data && r.json.data.length === 2 && r.json.data[0].oid === SYS_DESCR &&
        r.json.data[1].oid === TEMP && r.json.data[1].type === TYPE_INTEGER,
        'GET of two objects shows both: ' + oneLine(r.text));

  r = await operation(page, 'btn_getnext', { op_oid: SYS_DESCR });
  check(r.json && r.json.data && r.json.data[0].oid === SYS_OBJECT_ID, 'GET-NEXT of sysDescr shows sysObjectID');
  r = await operation(page, 'btn_getnext', { op_oid: TEMP });
  check(r.json && r.json.data && r.json.data[0].oid === LED, 'GET-NEXT of the temperature shows the LED');
  await logShows(page, '请求：SNMP GETNEXT | ip=127.0.0.1 port=' + agentPort + ' oid=' + TEMP);

  r = await operation(page, 'btn_getbulk', { op_oid: '1.3.6.1.2.1.1', op_non_repeat: '0', op_max_repeat: '3' });
  const oids = r.json && r.json.data ? r.json.data.map((d) => d.oid) : [];
  check(JSON.stringify(oids) === JSON.stringify([SYS_DESCR, SYS_OBJECT_ID, SYS_UPTIME]),
        'GET-BULK shows the first three system objects: ' + oids);
  await logShows(page, '请求：SNMP GETBULK | ip=127.0.0.1 port=' + agentPort + ' oid=1.3.6.1.2.1.1 nr=0 mr=3');
}

// WALK lists the objects of the subtree in the result panel, and says when the limit cut the list.
async function walks(page) {
  const listed = () => page.$$eval('#result_list tbody tr', (rows) => rows.map((row) => row.cells[0].textContent));
  let r = await operation(page, 'btn_walk', { op_oid: '1.3.6.1.2.1.1, ' + TEMP, op_max_repeat: '3', op_limit: '1000' });
  let oids = await listed();
  check(oids.length >= 7 && oids[0] === SYS_DESCR && oids[1] === SYS_OBJECT_ID && oids[2] === SYS_UPTIME &&
        oids.every((oid) => oid.startsWith('1.3.6.1.2.1.1.')),
        'WALK lists the system group, and only it: ' + oids);
  check(r.json && r.json.ret === 0 && r.json.count === oids.length && r.json.truncated === false,
        'the walk answer counts the listed objects: ' + oneLine(r.text).slice(0, 200));
  check(r.caption.includes('共 ' + oids.length + ' 个对象') && !r.caption.includes('已达上限'),
        'the caption counts the objects: ' + r.caption);
  check(await page.evaluate(() => document.getElementById('result').hidden), 'the list replaces the JSON text');
  r = await operation(page, 'btn_walk', { op_oid: '1.3.6.1.2.1.1', op_limit: '2' });
  oids = await listed();
  check(oids.length === 2 && oids[0] === SYS_DESCR && r.json && r.json.truncated === true &&
        r.caption.includes('已达上限'), 'a walk cut by its limit says so: ' + oids + ' / ' + r.caption);
  await logShows(page, '请求：SNMP WALK | ip=127.0.0.1 port=' + agentPort + ' oid=1.3.6.1.2.1.1 mr=3 limit=2');
  r = await operation(page, 'btn_get', { op_oid: SYS_DESCR });
  check(!(await page.evaluate(() => document.getElementById('result').hidden)) &&
        (await listed()).length === 0, 'the next operation shows its JSON again');
}

async function setLed(page, value, trapOid) {
  let r = await operation(page, 'btn_set', { op_oid: LED, op_type: 'integer', op_value: String(value) });
  check(r.json && r.json.ret === 0, 'SET of the LED to ' + value + ' succeeds: ' + oneLine(r.text));
  r = await operation(page, 'btn_get', { op_oid: LED });
  check(r.json && r.json.data && r.json.data[0].value === String(value) && r.json.data[0].type === TYPE_INTEGER,
        'GET shows the LED as ' + value + ': ' + oneLine(r.text));
  check(await appears(page, '#trap_list', trapOid), 'a notification ' + trapOid + ' appears');
  const card = await page.textContent('#trap_list .trap');
  check(card.includes(trapOid) && card.includes('127.0.0.1:' + agentPort) && card.includes('v2c'),
        'the newest notification is ' + trapOid + ' from the agent: ' + oneLine(card));
}

async function markupIsText(page, dialogs) {
  let r = await operation(page, 'btn_set', { op_oid: SYS_CONTACT, op_type: 'octet_string', op_value: MARKUP });
  check(r.json && r.json.ret === 0, 'SET of sysContact to markup succeeds: ' + oneLine(r.text));
  r = await operation(page, 'btn_get', { op_oid: SYS_CONTACT });
  check(r.json && r.json.data && r.json.data[0].value === MARKUP, 'GET reads the markup back unchanged');
  check(r.text.includes(MARKUP), 'the result panel shows the markup literally');
  const children = await page.evaluate(() => document.getElementById('result').children.length);
  check(children === 0, 'the result panel holds text only');
  await logShows(page, '请求：SNMP SET | ip=127.0.0.1 port=' + agentPort + ' oid=' + SYS_CONTACT +
                       ' type=octet_string val=' + MARKUP);
  await noInjectedMarkup(page, 'result and log');
  check(dialogs.length === 0, 'no script ran from a value (dialogs: ' + JSON.stringify(dialogs) + ')');
}

async function failedSet(page) {
  const r = await operation(page, 'btn_set', { op_oid: SYS_DESCR, op_type: 'octet_string', op_value: 'x' });
  check(r.json && typeof r.json.ret === 'number' && r.json.ret !== 0 && r.caption.includes('失败'),
        'SET of the read-only sysDescr is shown as failed: ' + oneLine(r.text));
}

async function main() {
  const browser = await launchBrowser(executablePath);
  try {
    const { page, dialogs } = await openPage(browser);
    await page.goto(url, { waitUntil: 'domcontentloaded' });
    await page.waitForFunction(() => document.getElementById('status').textContent === '状态：运行中 | 全透传网桥',
                               null, { timeout: WAIT_MS });
    check(true, 'status line shows the running bridge');
    await waitText(page, '#log', '已返回Web主页');
    const linesAtStart = await logLines(page);

    await addAgent(page);
    await reads(page);
    await walks(page);
    await failedSet(page);
    await setLed(page, 1, LINK_UP);
    await setLed(page, 0, LINK_DOWN);
    const traps = await page.textContent('#trap_list');
    check(traps.includes(LINK_UP) && traps.includes(LINK_DOWN), 'both notifications are listed');
    check((await page.textContent('#trap_note')).includes('2'), 'the notification count is shown');
    await markupIsText(page, dialogs);

    const linesAtEnd = await logLines(page);
    check(linesAtEnd > linesAtStart, 'the log grew from ' + linesAtStart + ' to ' + linesAtEnd + ' lines');

    if (screenshot) {
      await page.screenshot({ path: screenshot, fullPage: true });
      console.log('screenshot: ' + screenshot);
    }
  } finally {
    await browser.close();
  }
}

finish(main);
