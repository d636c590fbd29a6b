// Runs the UI package in headless Chromium with a window.external of the tests' own: every call
// is recorded with its arguments (in sessionStorage, so the record survives the page changes)
// and answered from the test's script: returned values, properties, and the callbacks of
// download and install as progress and final codes.
'use strict';
const http = require('node:http');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { chromium } = require('playwright-core');

const repo = path.resolve(__dirname, '../..');
const packageFolder = path.join(repo, 'ui-package');
const flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.svg': 'image/svg+xml' };

// The package as the build ships it, libraries included, over loopback. A bridge stands in for
// the page bridge: the package lies below bridge.prefix, bridge.answer(request, response) answers
// first (true when it did) and every page gets bridge.script before its own scripts.
async function serve(bridge) {
  execFileSync('python3', [path.join(repo, 'scripts/package-ui.py'), '--libraries', packageFolder]);
  const server = http.createServer((request, response) => {
    if (bridge && bridge.answer(request, response)) return;
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).slice(bridge ? bridge.prefix.length : 0);
    const file = path.join(packageFolder, name);
    if (!file.startsWith(packageFolder) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    const body = fs.readFileSync(file);
    response.end(bridge && file.endsWith('.html') ? String(body).replace('<script', `${bridge.script}<script`) : body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, base: `http://127.0.0.1:${server.address().port}/` };
}

// Runs in the page before its scripts. script: see defaults in start().
function fakeExternal(script) {
  const codes = ['', 'en', 'fr', 'de', 'es', 'it', 'ja'];
  const load = () => JSON.parse(sessionStorage.getItem('fake') || 'null') ||
    { calls: [], properties: Object.assign({}, script.properties), downloads: 0, installs: 0 };
  const save = (state) => sessionStorage.setItem('fake', JSON.stringify(state));
  Object.defineProperty(screen, 'availWidth', { get: () => script.screen[0] });
  Object.defineProperty(screen, 'availHeight', { get: () => script.screen[1] });
  // Calls back with each step, one timer turn apart; a script without a final step leaves the
  // operation running, and the test goes on with window.stepOperation(result, total, current)
  // or finishes it through window.finishOperation(code).
  function later(callback, steps) {
    window.stepOperation = (...step) => callback(...step);
    window.finishOperation = (code) => callback(code, 0, 0);
    let chain = Promise.resolve();
    for (const step of steps) chain = chain.then(() => new Promise((resolve) => setTimeout(resolve, 1))).then(() => callback(...step));
  }
  const answers = {
    getProperty: (state, name) => state.properties[name] === undefined ? '' : state.properties[name],
    setProperty: (state, name, value) => { state.properties[name] = value; },
    setLang: (state, number) => { state.properties.lang = codes[number] || 'xx'; },
    getOSLang: () => script.osLang,
    getParsedInstallLanguage: (state, code) => Math.max(codes.indexOf(code), 0),
    getDataFromReg: (state, key, value) => script.registry[key + '|' + value] || '',
    getBaseRegKey: () => 'HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77',
    getTempPath: () => 'C:\\Users\\u\\AppData\\Local\\Temp\\HLVN\\',
    initDownloadSize: (state) => { state.properties.downloadTotal = String(script.size); },
    download: (state, url, file, crc, secure, resume, callback) => later(callback, script.downloads[state.downloads++] || [[0, 0, 0]]),
    install: (state, file, parameters, time, callback) => later(callback, script.installs[state.installs++] || [[0, 0, 0]]),
    closeWindow: (state) => { state.closed = true; },
  };
  const external = {};
  for (const name of script.methods) {
    external[name] = function (...args) {
      const state = load();
      state.calls.push({ name, args: args.map((a) => typeof a === 'function' ? '<function>' : a), time: Date.now() });
      const answer = answers[name] ? answers[name](state, ...args) : script.returns[name];
      save(state);
      return answer;
    };
  }
  Object.defineProperty(window, 'external', { value: external, configurable: true });
}

const methods = Object.keys(require('./method-table').MethodTable);

// The test's script for fakeExternal with the answers of a fresh 64-bit Windows 10 filled in.
function fakeScript(script) {
  const full = Object.assign({
    methods, screen: [1920, 1040], osLang: 1, size: 52428800,
    properties: { osbits: '64' },
    registry: {
      'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer|Version': '11.0.19041.1',
      'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full|Release': '528372',
    },
    downloads: [], installs: [],
  }, script);
  full.returns = Object.assign({
    getOSVersionAndBuildNumber: '10.0.19045', downloadAndInstallWV2RT: true, isSilentLaunchStub: false,
    getResumeMode: 0, prepareInstall: 0, getLastInstallError: 0, openPage: true, isFileExists: true, createDirectory: true,
  }, script.returns || {});
  return full;
}

class Run {
  static async start(browser, base, script = {}, options = {}) {
    const full = fakeScript(script);
    const context = await browser.newContext({ viewport: options.viewport || { width: 647, height: 505 },
      deviceScaleFactor: options.scale || 1 });
    const page = await context.newPage();
    // A held page stays in place: its navigations to the other pages get an empty answer (204).
    if (options.hold) await page.route('**/pages/*/page.html', (route) => route.request().url().endsWith(`/${options.entry}`) ? route.continue() : route.fulfill({ status: 204 }));
    await page.clock.install();
    await page.addInitScript(fakeExternal, full);
    const run = new Run(page, context);
    page.on('pageerror', (error) => run.errors.push(String(error)));
    await page.goto(base + (options.entry || 'Load.html'));
    return run;
  }

  constructor(page, context) {
    this.page = page;
    this.context = context;
    this.errors = [];
  }

  async state() {
    for (;;) {
      try {
        return await this.page.evaluate(() => JSON.parse(sessionStorage.getItem('fake') || '{"calls":[]}'));
      } catch (error) {
        if (!/context was destroyed|navigation/i.test(String(error))) throw error;
      }
    }
  }

  // Waits (polling, no time limit of its own) until test(state, title) holds.
  async until(test) {
    for (;;) {
      const state = await this.state();
      const title = await this.page.title().catch(() => '');
      if (test(state, title)) return state;
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  // Polls from here: the page's own timers and animation frames belong to the test's clock.
  async check(predicate, argument) {
    for (;;) {
      const held = await this.page.evaluate(predicate, argument).catch(() => false);
      if (held) return;
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  async onPage(title) {
    await this.check((t) => document.title === t && document.readyState === 'complete' && !!window.jQuery && jQuery.isReady, title);
  }

  async click(title, selector) {
    await this.onPage(title);
    await this.page.click(selector);
  }

  closed() {
    return this.until((state) => state.closed);
  }

  async end() {
    await this.context.close();
  }
}

// The calls of name, or of all when name is omitted, as "name(args)" texts.
function calls(state, name) {
  return state.calls.filter((c) => !name || c.name === name).map((c) => `${c.name}(${c.args.map((a) => JSON.stringify(a)).join(', ')})`);
}

async function launch() {
  const { server, base } = await serve();
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: flags, headless: true });
  return { base, browser, async close() { await browser.close(); server.close(); } };
}

const wizardPages = ['Initialization', 'Welcome', 'Agreement', 'Optional', 'Analytics', 'Downloading', 'Installing', 'Prerequisite', 'Finish'];

// Opens page in the language lang at the given scale and brings it to what the user sees longest:
// a download or install with its progress, size and remaining time; the Finish page of a
// completed run with a program to start.
async function showPage(env, page, lang, scale) {
  const MB = 1048576;
  const run = await Run.start(env.browser, env.base, {
    properties: { osbits: '64', lang, Config_Status: '1', startProgram: 'C:\\Program Files\\Halvern\\Halvern.exe' },
    downloads: [[[10, 50 * MB, 0]]], installs: [[[10, 100, 0]]],
  }, { entry: `pages/${page}/page.html`, hold: true, scale });
  await run.onPage(page);
  if (page === 'Downloading' || page === 'Installing') {
    const [kind, total] = page === 'Downloading' ? ['downloads', 50 * MB] : ['installs', 100];
    await run.until((s) => s[kind] === 1);
    await run.check(() => !!window.stepOperation);
    await run.page.clock.runFor(10);
    await run.page.clock.runFor(4000);
    await run.page.evaluate((t) => window.stepOperation(10, t, Math.floor(t * 0.37)), total);
  }
  await run.page.evaluate(() => document.activeElement && document.activeElement.blur());
  return run;
}

module.exports = { launch, serve, fakeExternal, fakeScript, Run, calls, packageFolder, repo, wizardPages, showPage };
