/* The web page of the bridge (see bridge_page.h): document, style and script in one piece, so that
 * the program needs no files beside it. */
#include "apps/snmp_web_bridge/bridge_page.h"

#include <string>

namespace bridge {

namespace {

constexpr std::string_view kIndexHtml =
    /* ---- head and style ---- */
    R"PAGE(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>SNMP NMS Web 管理控制台</title>
<style>
:root {
  --bg: #f1f4f9; --card: #ffffff; --ink: #1e293b; --muted: #64748b; --line: #e2e8f0;
  --accent: #2563eb; --accent-dark: #1d4ed8; --danger: #dc2626; --ok: #047857; --warn: #b45309;
  --mono: ui-monospace, "DejaVu Sans Mono", "Cascadia Mono", Menlo, Consolas, monospace;
}
* { box-sizing: border-box; }
body {
  margin: 0; background: var(--bg); color: var(--ink);
  font: 14px/1.5 system-ui, -apple-system, "Segoe UI", "Noto Sans CJK SC", "Microsoft YaHei", sans-serif;
}
header {
  background: #1e293b; color: #f8fafc; padding: 14px 28px;
  display: flex; align-items: center; gap: 18px; flex-wrap: wrap;
}
header h1 { margin: 0; font-size: 20px; font-weight: 600; letter-spacing: .5px; }
header .sub { color: #94a3b8; font-size: 13px; }
#status { margin-left: auto; font-size: 13px; padding: 3px 12px; border-radius: 999px; background: #334155; }
#status.ok { background: #065f46; }
#status.bad { background: #991b1b; }
main {
  display: grid; grid-template-columns: repeat(auto-fit, minmax(460px, 1fr)); gap: 18px;
  padding: 18px 28px 36px; max-width: 1560px; margin: 0 auto;
}
section {
  background: var(--card); border: 1px solid var(--line); border-radius: 10px; min-width: 0;
  padding: 14px 18px 18px; box-shadow: 0 1px 3px rgba(15, 23, 42, .06);
}
section h2 {
  margin: 0 0 12px; padding-bottom: 8px; border-bottom: 1px solid var(--line);
  font-size: 15px; font-weight: 600; display: flex; align-items: center; gap: 10px;
}
section h2 .tag { font-size: 12px; font-weight: 400; color: var(--muted); margin-left: auto; }
.form { display: grid; grid-template-columns: 120px 1fr; gap: 8px 12px; align-items: center; }
.form label { color: var(--muted); font-size: 13px; }
.pair { display: grid; grid-template-columns: 1fr 1fr; gap: 8px; }
input, select {
  width: 100%; padding: 6px 9px; border: 1px solid #cbd5e1; border-radius: 6px;
  font: inherit; color: inherit; background: #fff;
}
input:focus, select:focus { outline: 2px solid #bfdbfe; border-color: var(--accent); }
.actions { display: flex; flex-wrap: wrap; gap: 8px; margin-top: 14px; align-items: center; }
button {
  padding: 6px 16px; border: 1px solid var(--accent); background: var(--accent); color: #fff;
  border-radius: 6px; font: inherit; cursor: pointer;
}
button:hover { background: var(--accent-dark); border-color: var(--accent-dark); }
button.secondary { background: #fff; color: var(--accent); }
button.secondary:hover { background: #eff6ff; }
button.danger { background: #fff; color: var(--danger); border-color: #fca5a5; }
button.danger:hover { background: #fef2f2; }
.note { font-size: 13px; margin-left: auto; }
table { width: 100%; border-collapse: collapse; margin-top: 14px; font-size: 13px; }
th, td { text-align: left; padding: 5px 8px; border-bottom: 1px solid var(--line); vertical-align: top; }
th { background: #f8fafc; color: var(--muted); font-weight: 600; }
td.mono { font-family: var(--mono); font-size: 12.5px; word-break: break-all; }
td.empty { color: var(--muted); text-align: center; padding: 12px; }
pre {
  margin: 0; background: #0f172a; color: #e2e8f0; border-radius: 8px; padding: 10px 12px;
  font: 12.5px/1.5 var(--mono); overflow: auto; white-space: pre-wrap; word-break: break-all;
}
#result { min-height: 220px; max-height: 460px; }
#result_list { max-height: 460px; overflow: auto; }
#result_list table { margin-top: 0; }
#log { height: 300px; }
.caption { font-size: 13px; color: var(--muted); margin-bottom: 8px; min-height: 20px; }
.caption.busy { color: var(--warn); }
.caption.done { color: var(--ok); }
.caption.fail { color: var(--danger); }
.hint { font-size: 12px; color: var(--muted); margin-top: 8px; }
.field { display: flex; align-items: center; gap: 8px; font-size: 12px; color: var(--muted); white-space: nowrap; }
#trap_list { max-height: 340px; overflow: auto; }
.trap { border: 1px solid var(--line); border-left: 3px solid var(--accent); border-radius: 6px; padding: 8px 10px; margin-top: 10px; }
.trap-head { display: flex; flex-wrap: wrap; gap: 4px 14px; font-size: 13px; color: var(--muted); }
.trap-head b { color: var(--ink); font-weight: 600; }
.trap table { margin-top: 6px; }
</style>
</head>
)PAGE"
    /* ---- body ---- */
    R"PAGE(<body>
<header>
  <h1>SNMP NMS Web 管理控制台</h1>
  <span class="sub">浏览器 → Web 网桥 → SNMP 服务 → 设备</span>
  <span id="status">状态：加载中...</span>
</header>
<main>
<section id="panel_agent">
  <h2>设备 Agent 管理<span id="agent_note" class="note"></span></h2>
  <div class="form">
    <label for="agent_ip">IP 地址</label><input id="agent_ip" value="127.0.0.1" spellcheck="false">
    <label for="agent_port">端口</label><input id="agent_port" type="number" min="1" max="65535" value="161">
    <label for="agent_version">SNMP 版本</label>
    <select id="agent_version">
      <option value="0">SNMP v1</option><option value="1" selected>SNMP v2c</option><option value="3">SNMP v3</option>
    </select>
    <label for="agent_community">Community</label><input id="agent_community" value="public" spellcheck="false">
  </div>
  <div class="actions">
    <button id="btn_agent_add">添加设备</button>
    <button id="btn_agent_remove" class="danger">删除设备</button>
    <button id="btn_agent_exist" class="secondary">检查是否存在</button>
    <button id="btn_agent_list" class="secondary">刷新列表</button>
  </div>
  <div id="agent_list"></div>
</section>

<section id="panel_user">
  <h2>SNMPv3 用户管理</h2>
  <div class="form">
    <label for="user_ip">IP 地址</label><input id="user_ip" value="127.0.0.1" spellcheck="false">
    <label for="user_port">端口</label><input id="user_port" type="number" min="1" max="65535" value="161">
    <label for="user_name">用户名</label><input id="user_name" spellcheck="false" autocomplete="off">
    <label for="user_auth">认证算法</label>
    <div class="pair">
      <select id="user_auth">
        <option value="0">NONE</option>
        <optgroup label="自研方案（vek）">
          <option value="1">MD5</option><option value="2">SHA1</option>
          <option value="3">SHA256</option><option value="4">SHA256FULL</option>
        </optgroup>
        <optgroup label="标准USM（std）">
          <option value="5">MD5</option><option value="6">SHA</option><option value="7">SHA-224</option>
          <option value="8">SHA-256</option><option value="9">SHA-384</option><option value="10">SHA-512</option>
        </optgroup>
      </select>
      <input id="user_auth_pass" type="password" placeholder="认证密码" autocomplete="new-password">
    </div>
    <label for="user_priv">加密算法</label>
    <div class="pair">
      <select id="user_priv">
        <option value="0">NONE</option>
        <optgroup label="自研方案（vek）">
          <option value="1">DES</option><option value="2">AES128</option><option value="3">3DES</option>
          <option value="4">AES192</option><option value="5">AES256</option>
        </optgroup>
        <optgroup label="标准USM（std）">
          <option value="6">DES</option><option value="7">AES</option><option value="8">AES-192</option>
          <option value="9">AES-256</option><option value="10">AES-192-C</option><option value="11">AES-256-C</option>
        </optgroup>
      </select>
      <input id="user_priv_pass" type="password" placeholder="加密密码" autocomplete="new-password">
    </div>
  </div>
  <div class="actions">
    <button id="btn_user_add">添加用户</button>
    <button id="btn_user_remove" class="danger">删除用户</button>
    <button id="btn_user_list" class="secondary">刷新列表</button>
  </div>
  <div id="user_list"></div>
</section>

<section id="panel_op">
  <h2>SNMP 操作</h2>
  <div class="form">
    <label for="op_ip">IP 地址</label><input id="op_ip" value="127.0.0.1" spellcheck="false">
    <label for="op_port">端口</label><input id="op_port" type="number" min="1" max="65535" value="161">
    <label for="op_user">SNMPv3 用户名</label><input id="op_user" placeholder="v1 / v2c 留空" spellcheck="false">
    <label for="op_oid">OID 列表</label>
    <input id="op_oid" value="1.3.6.1.2.1.1.1.0" spellcheck="false" title="多个 OID 用逗号分隔">
    <label for="op_type">数据类型</label>
    <select id="op_type">
      <option value="octet_string" selected>octet_string</option><option value="integer">integer</option>
      <option value="ipaddress">ipaddress</option><option value="gauge">gauge</option>
      <option value="counter">counter</option><option value="counter64">counter64</option>
      <option value="opaque">opaque</option><option value="null">null</option>
    </select>
    <label for="op_value">SET 值</label>
    <input id="op_value" placeholder="多个值用逗号分隔，与 OID 一一对应" spellcheck="false">
    <label for="op_non_repeat">GET-BULK 参数</label>
    <div class="pair">
      <span class="field"><span>non-repeaters</span>
        <input id="op_non_repeat" type="number" min="0" max="10" value="0" title="0-10"></span>
      <span class="field"><span>max-repetitions</span>
        <input id="op_max_repeat" type="number" min="1" max="50" value="10" title="1-50"></span>
    </div>
    <label for="op_limit">WALK 上限</label>
    <input id="op_limit" type="number" min="1" max="10000" value="1000" title="1-10000">
  </div>
  <div class="hint">多个 OID 用逗号分隔；SET 值与 OID 按顺序一一对应。non-repeaters 0-10，max-repetitions 1-50。WALK 遍历第一个 OID 下的整个子树，最多列出“WALK 上限”个对象。</div>
  <div class="actions">
    <button id="btn_get">GET</button>
    <button id="btn_set">SET</button>
    <button id="btn_getnext" class="secondary">GET-NEXT</button>
    <button id="btn_getbulk" class="secondary">GET-BULK</button>
    <button id="btn_walk" class="secondary">WALK</button>
  </div>
</section>

<section id="panel_result">
  <h2>执行结果</h2>
  <div id="result_caption" class="caption">尚未执行操作</div>
  <pre id="result"></pre>
  <div id="result_list" hidden></div>
</section>

<section id="panel_log">
  <h2>运行日志<span class="tag">每秒刷新</span></h2>
  <pre id="log"></pre>
</section>

<section id="panel_trap">
  <h2>通知（Trap / Inform）<span id="trap_note" class="tag">暂无通知</span></h2>
  <div id="trap_list"></div>
</section>
</main>
)PAGE"
    /* ---- script ---- */
    R"PAGE(<script>
'use strict';
const $ = (id) => document.getElementById(id);
const VERSION_NAMES = { 0: 'v1', 1: 'v2c', 3: 'v3' };
const AUTH_NAMES = ['NONE', 'MD5', 'SHA1', 'SHA256', 'SHA256FULL',
                    'std MD5', 'std SHA', 'std SHA-224', 'std SHA-256', 'std SHA-384', 'std SHA-512'];
const PRIV_NAMES = ['NONE', 'DES', 'AES128', '3DES', 'AES192', 'AES256',
                    'std DES', 'std AES', 'std AES-192', 'std AES-256', 'std AES-192-C', 'std AES-256-C'];
const TYPE_NAMES = { 2: 'INTEGER', 4: 'OCTET STRING', 5: 'NULL', 6: 'OID', 7: 'UInteger32', 10: 'IpAddress',
                     36: '未知类型', 65: 'Counter32', 66: 'Gauge32', 67: 'TimeTicks', 70: 'Counter64',
                     128: 'noSuchObject', 129: 'noSuchInstance', 130: 'endOfMibView' };
const POLL_MS = 1000;
const LIST_REFRESH_MS = 50;

/* Every value reaches the page through textContent: nothing an agent sends is read as markup. */
function el(tag, text, cls) {
  const node = document.createElement(tag);
  if (text !== undefined && text !== null) node.textContent = String(text);
  if (cls) node.className = cls;
  return node;
}
function query(params) {
  return Object.keys(params).map((k) => k + '=' + encodeURIComponent(params[k])).join('&');
}
async function request(path, params) {
  const res = await fetch(params ? path + '?' + query(params) : path, { cache: 'no-store' });
  const text = await res.text();
  try { return JSON.parse(text); } catch (e) { return { ret: -1, msg: '应答不是有效的 JSON', raw: text }; }
}
function table(headers, rows, emptyText) {
  const t = el('table');
  const head = t.createTHead().insertRow();
  headers.forEach((h) => head.appendChild(el('th', h)));
  const body = t.createTBody();
  if (rows.length === 0) {
    const cell = el('td', emptyText, 'empty');
    cell.colSpan = headers.length;
    body.insertRow().appendChild(cell);
  }
  rows.forEach((cells) => {
    const row = body.insertRow();
    cells.forEach((c) => row.appendChild(el('td', c)));
  });
  return t;
}
function validIp(ip) {
  const m = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(ip);
  return m !== null && m.slice(1).every((part) => Number(part) <= 255);
}
function validPort(port) {
  return /^\d{1,5}$/.test(port) && Number(port) >= 1 && Number(port) <= 65535;
}
function target(prefix) {
  const ip = $(prefix + '_ip').value.trim();
  const port = $(prefix + '_port').value.trim();
  if (!validIp(ip)) { alert('IP 格式错误'); return null; }
  if (!validPort(port)) { alert('端口必须 1-65535'); return null; }
  return { ip, port };
}
function clamp(value, lo, hi, fallback) {
  const n = parseInt(value, 10);
  return String(Number.isNaN(n) ? fallback : Math.min(hi, Math.max(lo, n)));
}

/* Result panel: a progress text while waiting, then the answer as indented JSON, or as a list when
 * the operation gives one (show). Only the latest operation may write it. */
let resultSeq = 0;
async function run(title, path, params, show) {
  const seq = ++resultSeq;
  const caption = $('result_caption');
  const out = $('result');
  const list = $('result_list');
  caption.textContent = '⏳ ' + title + '：正在执行，请稍候...';
  caption.className = 'caption busy';
  out.textContent = '正在等待应答...';
  out.hidden = false;
  list.hidden = true;
  list.replaceChildren();
  const started = performance.now();
  try {
    const data = await request(path, params);
    if (seq === resultSeq) {
      const ok = data && data.ret === 0;
      caption.textContent = (ok ? '✔ ' : '✖ ') + title + (ok ? '：成功' : '：失败') +
                            '（' + Math.round(performance.now() - started) + ' ms）';
      caption.className = 'caption ' + (ok ? 'done' : 'fail');
      out.textContent = JSON.stringify(data, null, 2);
      if (show) show(data, caption, out, list);
    }
    return data;
  } catch (e) {
    if (seq === resultSeq) {
      caption.textContent = '✖ ' + title + '：请求失败';
      caption.className = 'caption fail';
      out.textContent = String(e);
    }
    return null;
  }
}

/* Device agents */
async function refreshAgents() {
  const box = $('agent_list');
  try {
    const data = await request('/agent_list');
    const list = Array.isArray(data.list) ? data.list : [];
    const rows = list.map((a) => [a.ip, a.port, a.version in VERSION_NAMES ? VERSION_NAMES[a.version] : a.version,
                                  a.timeout, a.max_retry]);
    const empty = data.ret === 0 ? '暂无设备' : '无法获取列表：' + data.msg;
    box.replaceChildren(table(['IP', '端口', 'SNMP版本', '超时', '重试次数'], rows, empty));
  } catch (e) {
    box.replaceChildren(table(['IP', '端口', 'SNMP版本', '超时', '重试次数'], [], '无法获取列表'));
  }
}
async function agentAction(kind) {
  const t = target('agent');
  if (!t) return;
  if (kind === 'add') {
    await run('添加设备', '/agent_add', { ip: t.ip, port: t.port, version: $('agent_version').value,
                                         community: $('agent_community').value });
  } else if (kind === 'remove') {
    await run('删除设备', '/agent_remove', t);
  } else {
    const data = await run('检查设备', '/agent_exist', t);
    $('agent_note').textContent = data && data.exist === 1 ? '✅ 设备已存在' : '❌ 设备不存在';
  }
  setTimeout(refreshAgents, LIST_REFRESH_MS);
}

/* SNMPv3 users */
async function refreshUsers() {
  const t = target('user');
  if (!t) return;
  const box = $('user_list');
  try {
    const data = await request('/user_list', t);
    const list = Array.isArray(data.list) ? data.list : [];
    const rows = list.map((u) => [u.username, AUTH_NAMES[u.auth_alg] || u.auth_alg, PRIV_NAMES[u.priv_alg] || u.priv_alg]);
    const empty = data.ret === 0 ? '暂无用户' : '无法获取列表：' + data.msg;
    box.replaceChildren(table(['用户名', '认证算法', '加密算法'], rows, empty));
  } catch (e) {
    box.replaceChildren(table(['用户名', '认证算法', '加密算法'], [], '无法获取列表'));
  }
}
async function userAction(kind) {
  const t = target('user');
  if (!t) return;
  const username = $('user_name').value.trim();
  if (kind === 'add') {
    await run('添加 SNMPv3 用户', '/user_add', { ip: t.ip, port: t.port, username, auth_alg: $('user_auth').value,
               auth_pass: $('user_auth_pass').value, priv_alg: $('user_priv').value, priv_pass: $('user_priv_pass').value });
  } else {
    await run('删除 SNMPv3 用户', '/user_remove', { ip: t.ip, port: t.port, username });
  }
  setTimeout(refreshUsers, LIST_REFRESH_MS);
}

/* SNMP operations */
/* A walk's objects as a table; its answer stays below when it failed. */
function showWalk(data, caption, out, list) {
  const objects = listOf(data, ['data']);
  if (data.ret === 0 || objects.length > 0) {
    const rows = objects.map((b) => [b.oid, b.value, b.type in TYPE_NAMES ? TYPE_NAMES[b.type] : b.type]);
    const t = table(['OID', '值', '类型'], rows, '子树中没有对象');
    t.querySelectorAll('tbody td:not(.empty)').forEach((td) => td.classList.add('mono'));
    list.replaceChildren(t);
    list.hidden = false;
    out.hidden = data.ret === 0;
    caption.textContent += '，共 ' + objects.length + ' 个对象' + (data.truncated ? '（已达上限，子树未遍历完）' : '');
  }
}
function operation(kind) {
  const t = target('op');
  if (!t) return;
  const p = { ip: t.ip, port: t.port, username: $('op_user').value.trim(), oid: $('op_oid').value.trim() };
  if (kind === 'get') {
    run('SNMP GET', '/snmp_get', p);
  } else if (kind === 'getnext') {
    run('SNMP GET-NEXT', '/snmp_getnext', p);
  } else if (kind === 'getbulk') {
    if (p.oid === '') { alert('请输入OID节点'); return; }
    p.non_repeat = clamp($('op_non_repeat').value, 0, 10, 0);
    p.max_repeat = clamp($('op_max_repeat').value, 1, 50, 10);
    run('SNMP GET-BULK', '/snmp_getbulk', p);
  } else if (kind === 'walk') {
    p.oid = p.oid.split(/[\s,]+/).filter((o) => o !== '')[0] || '';
    if (p.oid === '') { alert('请输入OID节点'); return; }
    p.max_repeat = clamp($('op_max_repeat').value, 1, 50, 10);
    p.limit = clamp($('op_limit').value, 1, 10000, 1000);
    run('SNMP WALK', '/snmp_walk', p, showWalk);
  } else {
    p.type = $('op_type').value;
    p.value = $('op_value').value;
    run('SNMP SET', '/snmp_set', p);
  }
}

/* Log and notifications, polled together */
let lastLog = null;
async function refreshLog() {
  const lines = await request('/log');
  const text = Array.isArray(lines) ? lines.join('\n') : '';
  if (text === lastLog) return;
  lastLog = text;
  const box = $('log');
  box.textContent = text;
  box.scrollTop = box.scrollHeight;
}
function listOf(data, keys) {
  if (Array.isArray(data)) return data;
  for (const k of keys) if (data && Array.isArray(data[k])) return data[k];
  return [];
}
const TRAP_KNOWN = ['seq', 'ip', 'port', 'version', 'community', 'time', 'error', 'var_count'];
function timeText(t) {
  /* The service gives the arrival time in UTC seconds. */
  return typeof t === 'number' ? new Date(t * 1000).toLocaleString('zh-CN', { hour12: false }) : t;
}
function trapCard(item, number) {
  const card = el('div', undefined, 'trap');
  const head = el('div', undefined, 'trap-head');
  const add = (label, value) => {
    const span = el('span', label + '：');
    span.appendChild(el('b', value));
    head.appendChild(span);
  };
  head.appendChild(el('b', '#' + (item.seq !== undefined ? item.seq : number)));
  if (item.ip !== undefined) add('来自', item.ip + (item.port !== undefined ? ':' + item.port : ''));
  if (item.version !== undefined) add('版本', item.version in VERSION_NAMES ? VERSION_NAMES[item.version] : item.version);
  if (item.community !== undefined) add('Community/用户', item.community);
  if (item.time !== undefined) add('时间', timeText(item.time));
  if (item.error !== undefined && item.error !== 0) add('错误码', item.error);
  const bindings = listOf(item, ['varbinds', 'bindings', 'data', 'vars']);
  Object.keys(item).forEach((k) => {
    const v = item[k];
    if (!TRAP_KNOWN.includes(k) && v !== bindings && (v === null || typeof v !== 'object')) add(k, v);
  });
  card.appendChild(head);
  const rows = bindings.map((b) => [b.oid, b.value, b.type in TYPE_NAMES ? TYPE_NAMES[b.type] : b.type]);
  const t = table(['OID', '值', '类型'], rows, '无绑定变量');
  t.querySelectorAll('tbody td:not(.empty)').forEach((td) => td.classList.add('mono'));
  card.appendChild(t);
  return card;
}
let lastTraps = null;
async function refreshTraps() {
  const data = await request('/trap_list');
  const raw = JSON.stringify(data);
  if (raw === lastTraps) return;
  lastTraps = raw;
  const note = $('trap_note');
  if (data && typeof data.ret === 'number' && data.ret !== 0) {
    note.textContent = '通知不可用：' + data.msg;
    return;
  }
  const items = listOf(data, ['list', 'traps', 'data']);
  note.textContent = items.length === 0 ? '暂无通知' : '共 ' + items.length + ' 条，最新在上';
  const cards = items.map((item, i) => trapCard(item || {}, i + 1)).reverse();
  $('trap_list').replaceChildren(...cards);
}
let polling = false;
async function poll() {
  if (polling) return;
  polling = true;
  try { await Promise.allSettled([refreshLog(), refreshTraps()]); } finally { polling = false; }
}

async function loadStatus() {
  const status = $('status');
  try {
    const data = await request('/status');
    const running = data.running === 1;
    status.textContent = running ? '状态：运行中 | 全透传网桥' : '状态：异常';
    status.className = running ? 'ok' : 'bad';
  } catch (e) {
    status.textContent = '状态：网桥无响应';
    status.className = 'bad';
  }
}

const actions = {
  btn_agent_add: () => agentAction('add'), btn_agent_remove: () => agentAction('remove'),
  btn_agent_exist: () => agentAction('exist'), btn_agent_list: refreshAgents,
  btn_user_add: () => userAction('add'), btn_user_remove: () => userAction('remove'), btn_user_list: refreshUsers,
  btn_get: () => operation('get'), btn_set: () => operation('set'),
  btn_getnext: () => operation('getnext'), btn_getbulk: () => operation('getbulk'),
  btn_walk: () => operation('walk'),
};
Object.keys(actions).forEach((id) => $(id).addEventListener('click', actions[id]));

loadStatus();
refreshAgents();
poll();
setInterval(poll, POLL_MS);
</script>
</body>
</html>
)PAGE";

constexpr std::string_view kDefaultPortField = R"(max="65535" value="161">)";

/* The page as served: kIndexHtml with the configured agent port in its port fields. */
std::string &served_page() {
    static std::string page(kIndexHtml);
    return page;
}

} // namespace

std::string_view index_html() { return served_page(); }

void set_page_agent_port(uint16_t port) {
    const std::string field = R"(max="65535" value=")" + std::to_string(port) + R"(">)";
    std::string page(kIndexHtml);
    for (size_t at = page.find(kDefaultPortField); at != std::string::npos;
         at = page.find(kDefaultPortField, at + field.size())) {
        page.replace(at, kDefaultPortField.size(), field);
    }
    served_page() = std::move(page);
}

} // namespace bridge
