// The page bridge under Wine with a test page in headless Chromium: what it refuses, the errors a
// call gets, and the page's own checks of calls, expandos, window state and a worker's callback.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { chromium } = require('playwright-core');
const until = require('../support/until');

const source = process.env.HALVERN_SOURCE_DIR || path.resolve(__dirname, '../..');
const bridgeExe = process.env.HALVERN_BRIDGE_EXE;
const windowsPath = (p) => 'Z:' + p.replace(/\//g, '\\');

const DISP_E_MEMBERNOTFOUND = -2147352573;
const DISP_E_UNKNOWNNAME = -2147352570;
const DISP_E_TYPEMISMATCH = -2147352571;
const FREED_SCRIPT = -2146827843;


test('the bridge refuses foreign requests, answers calls as the engine would and ends the run', async () => {
  assert.ok(bridgeExe, 'HALVERN_BRIDGE_EXE names the built page_bridge.exe');
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'bridge-test-'));
  const urlFile = path.join(scratch, 'url.txt');
  let output = '';
  const bridge = spawn(path.join(source, 'scripts/wine-run'),
    [bridgeExe, 'run=1', `--bridge-package=${windowsPath(path.join(source, 'tests/bridge/testpage'))}`],
    { env: { ...process.env, HALVERN_BRIDGE_URL_FILE: windowsPath(urlFile) } });
  bridge.stdout.on('data', (data) => { output += data; });
  bridge.stderr.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => bridge.on('exit', resolve));
  let browser;
  try {
    const url = (await until('the bridge address', () => fs.existsSync(urlFile) && fs.readFileSync(urlFile, 'utf8').trim(), 60));
    const origin = new URL(url).origin;
    const base = url.slice(0, -'/Load.html'.length);

    // Requests without the run's token, or from another origin, or out of the folder.
    for (const [address, status] of [[`${origin}/Load.html`, 403], [`${origin}/0123456789abcdef/Load.html`, 403],
      [`${base}/..%2f..%2fwinver.exe`, 404], [`${base}/pages%5c..%5cLoad.html`, 404], [`${base}/Load.html`, 200]])
      assert.strictEqual((await fetch(address)).status, status, address);
    const post = (endpoint, body, headers = {}) => fetch(`${base}/__bridge__/${endpoint}`, {
      method: 'POST', body: JSON.stringify(body), headers: { 'Content-Type': 'application/json', ...headers } });
    assert.strictEqual((await post('hello', {}, { Origin: 'http://evil.example' })).status, 403);

    // Calls as a page makes them, with the wrong flags, an unknown name and the wrong types.
    const { generation } = await (await post('hello', { title: 'raw' })).json();
    const call = async (name, flags, args) => (await post('call', { generation, op: 'call', name, flags, args })).json();
    assert.deepStrictEqual(await call('setProperty', 1, ['k', 'v']), { ok: true, value: { $undefined: 1 },
      window: { visible: true, minimized: false, width: 0, height: 0 } });
    assert.strictEqual((await call('getProperty', 3, ['k'])).value, 'v');
    for (const [name, flags, args, hresult] of [['getProperty', 1, ['k'], DISP_E_MEMBERNOTFOUND],
      ['noSuchMethod', 3, [], DISP_E_UNKNOWNNAME], ['setProperty', 1, ['k', 5], DISP_E_TYPEMISMATCH]])
      assert.strictEqual((await call(name, flags, args)).hresult, hresult, name);

    browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--headless', '--no-sandbox',
      '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'] });
    const page = await browser.newPage();
    await page.goto(url);
    await page.waitForFunction(() => document.title !== 'Load', null, { timeout: 60000 });
    assert.strictEqual(await page.title(), 'PASS');
    // The browser's page took over: the earlier one is gone.
    assert.strictEqual((await call('getProperty', 3, ['k'])).hresult, FREED_SCRIPT);

    const status = await until('the closed window', async () => {
      const answer = await (await fetch(`${base}/__bridge__/status`)).json();
      return answer.closed && answer;
    }, 30);
    assert.strictEqual(status.page, 'PASS');
    assert.strictEqual(await exited, 0);
    assert.match(output, /bridge: run ended, status 4/);
  } finally {
    if (browser) await browser.close();
    bridge.kill();
    fs.rmSync(scratch, { recursive: true, force: true });
  }
});
