#!/usr/bin/env node
// Drives the wizard in Chromium as a person would, against the page bridge that serves the UI
// package with the stub's real window.external:
//   node scripts/wizard-driver.js --url http://127.0.0.1:PORT/TOKEN/Load.html
//        [--screenshots DIR] [--lang CODE] [--manual] [--timeout SECONDS]
//        [--until PAGE] [--expect-box] [--close-at PERCENT]
// --until: the page after which the run closes (default Finish; a run resumed on the Installing
// page closes after it); --expect-box: the run shows a message box (an error) and may close
// before that page; --close-at: the person closes the wizard when the download has reached
// PERCENT %.
// It follows the native window (size, shown, hidden, minimised) from the bridge's status, prints
// each page and the job's progress, and ends with exit 0 once the run closed after the Finish
// page; 1 on the time limit, an unexpected page or an unexpected message box.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { parseArgs } = require('node:util');
const { chromium } = require('playwright-core');

const flags = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const MB = 1048576;

// The pages in the order a run may show them: a resumed run starts at Downloading or
// Installing, and the shipped sequence installs on the Downloading page itself.
const sequence = ['Load', 'Initialization', 'Welcome', 'Agreement', 'Optional', 'Analytics', 'Downloading', 'Installing', 'Finish'];
const progressPages = ['Downloading', 'Installing'];

// What a person waits for on a page (visible and enabled) before acting, and the action.
const actions = {
  Welcome: {
    ready: '#btnNext',
    async act(page, lang) {
      const codes = await page.$$eval('#language option', (options) => options.map((o) => o.value));
      if (!codes.includes(lang)) throw new Failure(`no language "${lang}" on the Welcome page (${codes.join(', ')})`);
      await page.selectOption('#language', lang);
      await page.click('#btnNext');
    },
  },
  Agreement: { ready: '#accept', async act(page) { await page.check('#accept'); await page.click('#btnNext'); } },
  // The sample has no partner application to install.
  Optional: { ready: '#optionalNo', async act(page) { await page.check('#optionalNo'); await page.click('#btnNext'); } },
  Analytics: { ready: '#btnAgree', act: (page) => page.click('#btnAgree') },
  Finish: { ready: '#btnFinish', act: (page) => page.click('#btnFinish') },
};

class Failure extends Error {}

// Lines on stdout; on a terminal the progress line is rewritten in place until another line.
const out = {
  open: false,
  line(text, stream = process.stdout) {
    if (this.open) process.stdout.write('\n');
    this.open = false;
    stream.write(text + '\n');
  },
  rewrite(text) {
    process.stdout.write(`\r${text}\x1b[K`);
    this.open = true;
  },
};

// The running job's progress from the native values: every poll on a terminal, else one line
// per 10 % step. The download speed averages the last 3 s.
class Progress {
  constructor(tty) {
    this.tty = tty;
    this.samples = [];
    this.step = null;
  }

  show(kind, properties, now) {
    const current = Number(properties[`${kind}Current`]), total = Number(properties[`${kind}Total`]);
    if (!(total > 1 || current > 0)) { // "1" and "0" until the job reports a total
      // An installer that reports no progress (Windows Installer under Wine gives no total).
      if (kind === 'install' && this.step !== 'install running') out.line('install: running, no progress reported');
      if (kind === 'install') this.step = 'install running';
      return;
    }
    const percent = Math.min(100, Math.floor(current * 100 / total));
    let text = `install: ${percent} %`;
    if (kind === 'download') {
      const last = this.samples[this.samples.length - 1];
      if (last && current < last.bytes) this.samples = []; // the next file
      this.samples = this.samples.filter((s) => now - s.time <= 3000).concat({ time: now, bytes: current });
      const first = this.samples[0];
      const speed = this.samples.length > 1 ? `, ${((current - first.bytes) / MB / ((now - first.time) / 1000)).toFixed(1)} MB/s` : '';
      text = `download: ${(current / MB).toFixed(1)} of ${(total / MB).toFixed(1)} MB, ${percent} %${speed}`;
    }
    if (this.tty) return out.rewrite(text);
    const step = `${kind} ${Math.floor(percent / 10)}`;
    if (step !== this.step) out.line(text);
    this.step = step;
  }
}

class Driver {
  constructor(page, options) {
    this.page = page;
    this.options = options;
    const url = new URL(options.url);
    this.statusUrl = `${url.origin}/${url.pathname.split('/')[1]}/__bridge__/status`;
    this.deadline = Date.now() + options.timeout * 1000;
    this.documents = 0;
    this.captured = 0;
    this.held = null;
    this.pass = false;
    this.shots = 0;
    this.boxes = 0;
    this.width = page.viewportSize().width;
    this.height = page.viewportSize().height;
    this.visible = true;
    this.minimized = false;
    this.progress = new Progress(process.stdout.isTTY);
    page.on('framenavigated', (frame) => { if (frame === page.mainFrame()) this.documents++; });
    page.on('pageerror', (error) => out.line(`page error: ${error.message}`));
    page.on('console', (message) => { if (message.type() === 'error') out.line(`page error: ${message.text()}`); });
  }

  // The page's own navigations are held (answered with "no content", so the page stays) and the
  // driver loads the page they asked for once it has seen the current one: the pages that move
  // on by themselves (Load, Initialization) are printed and captured too, and no click races a
  // navigation. A pending navigation would also stall every evaluation and screenshot.
  async route(route) {
    if (!this.pass) {
      this.held = route.request().url();
      return route.fulfill({ status: 204 });
    }
    this.pass = false;
    return route.continue();
  }

  async load(url) {
    this.pass = true;
    await this.page.goto(url, { waitUntil: 'commit' });
  }

  remaining() {
    return Math.max(1, this.deadline - Date.now());
  }

  async run() {
    await this.page.route((url) => url.pathname.endsWith('.html'), (route) => this.route(route));
    await this.poll();
    await this.load(this.options.url);
    for (let tick = 1; !this.ended; tick++) {
      if (Date.now() > this.deadline) throw new Failure(this.timeLimit());
      if (tick % 5 === 0) await this.poll();
      if (!this.ended && this.documents > this.captured) {
        const title = await this.readyTitle();
        if (title !== undefined) await this.visit(title);
      } else if (!this.ended && this.held) {
        const url = this.held;
        this.held = null;
        await this.load(url);
      }
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
  }

  timeLimit() {
    return `time limit of ${this.options.timeout} s reached on page ${this.title || '(none)'}`;
  }

  // The current document's title once a person could use it: its ready handlers have run (a
  // page without jQuery is not the package's: its title once parsed).
  async readyTitle() {
    const state = await this.page.evaluate(async () => {
      const ready = !!(window.jQuery && jQuery.isReady);
      // jQuery calls the ready handlers one timer turn after it is ready.
      if (ready) await new Promise((resolve) => setTimeout(resolve));
      return { title: document.title, ready: ready || (!window.jQuery && document.readyState !== 'loading') };
    });
    return state.ready ? state.title : undefined;
  }

  async visit(title) {
    const manual = this.options.manual;
    if (!manual && sequence.indexOf(title) <= sequence.indexOf(this.title)) {
      throw new Failure(`unexpected page "${title}" after ${this.title || 'the start'}`);
    }
    this.title = title;
    this.finished = this.finished || title === this.options.until;
    out.line(`page: ${title}`);
    const action = actions[title];
    if (action) await this.page.locator(`${action.ready}:enabled`).waitFor({ state: 'visible', timeout: this.remaining() });
    await this.poll();
    if (this.options.screenshots) {
      const name = `${String(++this.shots).padStart(2, '0')}-${title.replace(/[^\w-]+/g, '_')}.png`;
      await this.page.screenshot({ path: path.join(this.options.screenshots, name) });
    }
    this.captured = this.documents;
    if (action && !manual && this.visible && !this.ended) await action.act(this.page, this.options.lang);
  }

  // The bridge's status: the window followed, message boxes, the end of the run, progress.
  async poll() {
    const status = await this.status();
    if (!status) return this.end('the bridge stopped answering');
    await this.follow(status.window);
    for (const box of status.boxes.slice(this.boxes)) {
      if (!this.options.manual && !this.options['expect-box']) throw new Failure(`unexpected message box: ${box}`);
      out.line(`box: ${box}`);
    }
    this.boxes = status.boxes.length;
    if (status.closed) return this.end('the run closed');
    if (!progressPages.includes(this.title) || this.documents > this.captured) return;
    const heading = await this.page.evaluate(() => document.getElementById('heading').getAttribute('data-text'));
    const kind = heading === 'installingTitle' ? 'install' : 'download';
    this.progress.show(kind, status.properties, Date.now());
    const closeAt = this.options['close-at'];
    const percent = Number(status.properties.downloadCurrent) * 100 / Number(status.properties.downloadTotal);
    if (closeAt !== undefined && kind === 'download' && !this.closedByUser && percent >= Number(closeAt)) {
      this.closedByUser = true;
      out.line(`driver: closing the wizard at ${Math.floor(percent)} %`);
      await this.page.click('#btnClose');
    }
  }

  // The status, or null once the bridge stopped answering after it had answered: its process
  // ends shortly after the run closed.
  async status() {
    try {
      const response = await fetch(this.statusUrl);
      if (!response.ok) throw new Failure(`the bridge answered ${response.status} to ${this.statusUrl}`);
      const status = await response.json();
      this.answered = true;
      return status;
    } catch (error) {
      const code = error.cause && error.cause.code;
      if (this.answered && ['ECONNREFUSED', 'ECONNRESET', 'UND_ERR_SOCKET'].includes(code)) return null;
      if (error instanceof Failure) throw error;
      throw new Failure(`no status from the bridge at ${this.statusUrl}: ${code || error.message}`);
    }
  }

  end(how) {
    const early = this.closedByUser || (this.options['expect-box'] && this.boxes > 0);
    if (!this.options.manual && !this.finished && !early)
      throw new Failure(`${how} on page ${this.title || '(none)'} before the ${this.options.until} page`);
    if (this.options['expect-box'] && this.boxes === 0) throw new Failure(`${how} without the expected message box`);
    this.ended = true;
  }

  async follow(window) {
    const { width, height } = window;
    if (width > 0 && height > 0 && (width !== this.width || height !== this.height)) {
      await this.page.setViewportSize({ width, height });
      this.width = width;
      this.height = height;
      out.line(`window: ${width} x ${height}`);
    }
    if (window.visible !== this.visible) out.line(window.visible ? 'window: shown' : 'window: hidden');
    if (window.minimized !== this.minimized) out.line(window.minimized ? 'window: minimised' : 'window: restored');
    this.visible = window.visible;
    this.minimized = window.minimized;
  }
}

function parseOptions() {
  const { values } = parseArgs({
    options: {
      url: { type: 'string' }, screenshots: { type: 'string' }, lang: { type: 'string', default: 'en' },
      manual: { type: 'boolean', default: false }, timeout: { type: 'string', default: '300' },
      until: { type: 'string', default: 'Finish' }, 'expect-box': { type: 'boolean', default: false },
      'close-at': { type: 'string' },
    },
  });
  const timeout = Number(values.timeout);
  if (!values.url || !(timeout > 0)) throw new TypeError('--url URL is required and --timeout takes seconds');
  if (values.screenshots) fs.mkdirSync(values.screenshots, { recursive: true });
  return Object.assign(values, { timeout });
}

async function main() {
  let options;
  try {
    options = parseOptions();
  } catch (error) {
    out.line(`driver: ${error.message}\nusage: wizard-driver.js --url URL [--screenshots DIR] [--lang CODE] [--manual] [--timeout SECONDS] [--until PAGE] [--expect-box] [--close-at PERCENT]`,
      process.stderr);
    return 2;
  }
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: flags,
    headless: !(options.manual && process.env.DISPLAY) });
  let driver;
  try {
    // The screen of the display the native window is on (xvfb-run's), which the page sizes to.
    const context = await browser.newContext({ viewport: { width: 647, height: 505 },
      screen: { width: 1280, height: 1024 } });
    context.setDefaultTimeout(options.timeout * 1000);
    const page = await context.newPage();
    driver = new Driver(page, options);
    await driver.run();
    out.line('driver: run closed');
    return 0;
  } catch (error) {
    const message = error.name === 'TimeoutError' && driver ? driver.timeLimit() : error.message;
    out.line(`driver: ${message}`, process.stderr);
    return 1;
  } finally {
    await browser.close();
  }
}

main().then((code) => process.exit(code));
