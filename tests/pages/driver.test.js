// The wizard driver (scripts/wizard-driver.js) against a stand-in for the page bridge: the package
// with the tests' window.external, whose calls and job progress the pages report to the test,
// which answers the bridge's status from them.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFile } = require('node:child_process');
const { serve, fakeExternal, fakeScript, calls, repo } = require('./harness');

const MB = 1048576;
const prefix = '/t0k3n';

// Runs in the page after fakeExternal: reports the calls and the last progress of a download or
// install with every call (synchronously, so the status never lags the page), and lets each job
// step follow 200 ms after the previous one, slow enough to be polled.
function report(prefix) {
  const progress = {};
  const send = () => {
    const request = new XMLHttpRequest();
    request.open('POST', `${prefix}/__bridge__/state`, false);
    request.send(JSON.stringify({ state: JSON.parse(sessionStorage.getItem('fake')), progress }));
  };
  for (const [name, method] of Object.entries(window.external)) {
    window.external[name] = (...args) => {
      if (name === 'download' || name === 'install') {
        const callback = args.pop();
        let paced = Promise.resolve();
        args.push((...step) => {
          paced = paced.then(() => new Promise((resolve) => setTimeout(resolve, 200))).then(() => {
            if (step[0] === 10) progress[name] = step.slice(1);
            send();
            callback(...step);
          });
        });
      }
      const answer = method(...args);
      send();
      return answer;
    };
  }
}

// The bridge's status from what the pages reported.
function status({ state, progress }) {
  const all = state ? state.calls : [];
  const last = (names) => all.filter((c) => names.includes(c.name)).pop() || { name: 'showWindow', args: [0, 0] };
  const [downloadTotal, downloadCurrent] = (progress.download || [1, 0]).map(String);
  const [installTotal, installCurrent] = (progress.install || [1, 0]).map(String);
  const [width, height] = last(['setWindowSize']).args;
  return {
    window: { visible: last(['showWindow', 'hideWindow']).name === 'showWindow', minimized: false, width, height },
    closed: !!(state && state.closed),
    boxes: all.filter((c) => c.name === 'messageBox').map((c) => c.args.join(' | ')),
    properties: { downloadCurrent, downloadTotal, installCurrent, installTotal },
  };
}

// One server for every run: each run sets the script its pages get and starts a new report.
const bridge = {
  prefix,
  answer(request, response) {
    if (request.url === `${prefix}/__bridge__/status`) {
      response.writeHead(200, { 'Content-Type': 'application/json' }).end(JSON.stringify(status(this.reported)));
      return true;
    }
    if (request.url !== `${prefix}/__bridge__/state`) return false;
    let body = '';
    request.on('data', (chunk) => { body += chunk; });
    request.on('end', () => { this.reported = JSON.parse(body); response.end(); });
    return true;
  },
};
let site;
test.before(async () => { site = await serve(bridge); });
test.after(() => site.server.close());

async function drive(script, lang) {
  bridge.script = `<script>(${fakeExternal})(${JSON.stringify(fakeScript(script))});(${report})(${JSON.stringify(prefix)});</script>`;
  bridge.reported = { state: null, progress: {} };
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'driver-'));
  const result = await new Promise((resolve) => execFile('node', [path.join(repo, 'scripts/wizard-driver.js'),
    '--url', `${site.base}${prefix.slice(1)}/Load.html`, '--screenshots', folder, '--lang', lang, '--timeout', '60'],
  (error, stdout, stderr) => resolve({ code: error ? error.code : 0, output: stdout + stderr })));
  result.shots = fs.readdirSync(folder).sort().map((f) => {
    const png = fs.readFileSync(path.join(folder, f));
    return `${f} ${png.readUInt32BE(16)} x ${png.readUInt32BE(20)}`;
  });
  fs.rmSync(folder, { recursive: true });
  return result;
}

const steps = [0, 10, 20, 30, 40, 50].map((n) => [10, 50 * MB, n * MB]);
const pages = ['Load', 'Initialization', 'Welcome', 'Agreement', 'Optional', 'Analytics', 'Downloading', 'Finish'];
const runs = [
  { name: 'the happy path in German on an 800 x 560 screen', lang: 'de',
    script: { screen: [800, 560], downloads: [steps.concat([[0, 0, 0]])], installs: [[[10, 4, 1], [10, 4, 3], [0, 4, 4]]] },
    code: 0, pages, shots: pages.map((p, i) => `${String(i + 1).padStart(2, '0')}-${p}.png 517 x 404`),
    lines: [/^window: 517 x 404$/m, /^download: \d+\.0 of 50\.0 MB, \d+ %, \d+\.\d MB\/s$/m, /^install: 75 %$/m, /^driver: run closed$/m],
    calls: ['setLang(3)', 'setProperty("select_agreement", "true")', 'setProperty("selectOptional", "no")',
      'trackUserActivity("Analytics_Agree")', 'closeWindow()'] },
  { name: 'an old Windows ends with its message box', lang: 'en', script: { returns: { getOSVersionAndBuildNumber: '10.0.17133' } },
    code: 1, lines: [/^driver: unexpected message box: Halvern needs Windows 10 version 1803 or later\. \| Halvern$/m] },
];

for (const run of runs) {
  test(`the driver: ${run.name}`, async () => {
    const { code, output, shots } = await drive(run.script, run.lang);
    assert.strictEqual(code, run.code, output);
    if (run.pages) assert.deepStrictEqual(output.match(/^page: .*$/gm), run.pages.map((p) => `page: ${p}`), output);
    if (run.shots) assert.deepStrictEqual(shots, run.shots);
    for (const line of run.lines) assert.match(output, line);
    assert.doesNotMatch(output, /^page error:/m);
    const all = calls(bridge.reported.state);
    for (const call of run.calls || []) assert.ok(all.includes(call), `${call} in\n${all.join('\n')}`);
  });
}
