// Whole runs of the stub under Wine through the page bridge with the shipped pages, a person's
// clicks scripted in Chromium (scripts/wizard-driver.js), against the sample product served by
// nginx and by the fault server, and the tests' installer web service: what a user sees when the
// network or the server misbehaves, and what the machine keeps.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const net = require('node:net');
const { spawn, spawnSync, execFileSync } = require('node:child_process');
const until = require('../support/until');

const source = process.env.HALVERN_SOURCE_DIR || path.resolve(__dirname, '../..');
const bridgeExe = process.env.HALVERN_BRIDGE_EXE;
const build = path.dirname(path.dirname(bridgeExe || '.'));
const work = path.join(build, 'e2e');
const script = (name) => path.join(source, 'scripts', name);
const windowsPath = (p) => 'Z:' + p.replace(/\//g, '\\');
const MIB = 1048576;

let sample;   // key=value of the sample's sample.txt
let fault;    // { port, log }
let faultServer;

function keyValues(file) {
  const values = {};
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const at = line.indexOf('=');
    if (at > 0) values[line.slice(0, at)] = line.slice(at + 1).trim();
  }
  return values;
}

function wineEnv(prefix) {
  return { ...process.env, WINEPREFIX: prefix, WINEDEBUG: '-all', WINEDLLOVERRIDES: 'mscoree,mshtml=' };
}

function sh(command, args, options = {}) {
  execFileSync(command, args, { stdio: ['ignore', 'ignore', 'inherit'], ...options });
}

// A fresh machine that meets the wizard's checks: a copy of a prefix made once.
function freshPrefix(name) {
  const template = path.join(work, 'template');
  if (!fs.existsSync(path.join(template, '.ready'))) {
    sh('bash', [script('wine-prefix.sh'), template]);
    fs.writeFileSync(path.join(template, '.ready'), '');
  }
  spawnSync('wineserver', ['-k'], { env: wineEnv(template) });
  const prefix = path.join(work, name, 'prefix');
  spawnSync('wineserver', ['-k'], { env: wineEnv(prefix) });
  fs.rmSync(prefix, { recursive: true, force: true });
  fs.mkdirSync(path.dirname(prefix), { recursive: true });
  sh('cp', ['-a', template, prefix]);
  sh('bash', [script('sample-machine.sh'), prefix, path.join(work, 'sample')]);
  // The window needs a Wine server that has the display; the set-up's may have none.
  spawnSync('wineserver', ['-k'], { env: wineEnv(prefix) });
  return prefix;
}

// The packaged pages, downloading from url.
function pages(name, url) {
  const folder = path.join(work, name, 'pages');
  sh('python3', [script('package-ui.py'), '--unpacked', folder, path.join(source, 'ui-package'), `--download-url=${url}`]);
  return folder;
}

function startBridge(prefix, folder, args = [], exe = bridgeExe) {
  const urlFile = path.join(path.dirname(prefix), `url-${Date.now()}.txt`);
  const child = spawn(script('wine-run'), [exe, `--bridge-package=${windowsPath(folder)}`, '--bridge-answer-boxes', ...args],
    { env: { ...wineEnv(prefix), HALVERN_BRIDGE_URL_FILE: windowsPath(urlFile) } });
  const run = { child, output: '', urlFile };
  child.stdout.on('data', (data) => { run.output += data; });
  child.stderr.on('data', (data) => { run.output += data; });
  run.exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  return run;
}


function driver(url, args) {
  return new Promise((resolve) => {
    const child = spawn('node', [script('wizard-driver.js'), '--url', url, '--timeout', '240', ...args]);
    let output = '';
    child.stdout.on('data', (data) => { output += data; });
    child.stderr.on('data', (data) => { output += data; });
    child.on('exit', (code) => resolve({ code, output }));
  });
}

// What Wine's reg prints for key in either registry view: a 32-bit stub's package registers in the
// 32-bit one.
function regQuery(prefix, key, ...args) {
  const loader = fs.existsSync('/usr/lib/wine/wine64') ? '/usr/lib/wine/wine64' : 'wine';
  return ['/reg:64', '/reg:32'].map((view) => spawnSync(loader, ['reg', 'query', key, ...args, view],
    { env: wineEnv(prefix), encoding: 'utf8' }).stdout || '').join('\n');
}

function registry(prefix, key, value) {
  const match = new RegExp(`${value}\\s+REG_\\w+\\s+(.*)`).exec(regQuery(prefix, key, '/v', value));
  return match ? match[1].trim() : null;
}

function installerLog(prefix) {
  const folder = path.join(prefix, 'drive_c/users', require('node:os').userInfo().username, 'Temp/HLVN_log');
  const logs = fs.existsSync(folder) ? fs.readdirSync(folder).filter((n) => n.startsWith('installer_log_')).sort() : [];
  return logs.length ? fs.readFileSync(path.join(folder, logs[logs.length - 1]), 'utf8').replace(/\0/g, '') : '';
}

// One whole run: fresh machine unless prefix is given, the bridge (or exe) as a user starts it, the
// driver.
async function wholeRun(name, url, { prefix, driverArgs = [], stubArgs = [], exe, during } = {}) {
  prefix = prefix || freshPrefix(name);
  const run = startBridge(prefix, pages(name, url), stubArgs, exe);
  const address = await until('the bridge', () => fs.existsSync(run.urlFile) && fs.readFileSync(run.urlFile, 'utf8').trim(), 90);
  const drive = driver(address, driverArgs);
  if (during) await during(address, prefix);
  const driven = await drive;
  const code = await run.exited;
  return {
    prefix, code, driven, bridge: run.output, log: installerLog(prefix),
    status: registry(prefix, 'HKCU\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77', 'status'),
    installed: registry(prefix, `HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${sample.product_code}`, 'DisplayVersion'),
  };
}

function faultRequests(tag) {
  return fs.readFileSync(fault.log, 'utf8').split('\n').filter((l) => l.startsWith(`${tag}\t`)).map((l) => {
    const [, number, target, range] = l.split('\t');
    return { number: Number(number), target, range };
  });
}

// The pages first probe the package's size (request 0 of a tag), then download it (1, 2, ...).
const bad = encodeURIComponent('setup/en/Halvern_64-bad.msi');  // a value with "/" in a path element
const faultUrl = (faults) => `http://127.0.0.1:${fault.port}/faults/${faults}/setup/en/Halvern_64.msi`;
const bytesServed = (request, size) => size - (/^bytes=(\d+)-/.exec(request.range) || [0, 0])[1];
const completedEvent = (log) => (/event="install\.completed", properties="([^"]*)"/.exec(log) || [])[1] || '';

test.before(async () => {
  assert.ok(bridgeExe && process.env.HALVERN_INSTALLER_SERVICE, 'HALVERN_BRIDGE_EXE and the installer service');
  fs.mkdirSync(work, { recursive: true });
  sh('bash', [script('sample-product.sh'), 'start', build, path.join(work, 'sample')]);
  sample = keyValues(path.join(work, 'sample/sample.txt'));
  // A copy of the package with one byte changed in its sixth block.
  const www = sample.docroot;
  const bad = Buffer.from(fs.readFileSync(path.join(www, 'setup/en/Halvern_64.msi')));
  bad[5 * MIB + 100] ^= 0xff;
  fs.writeFileSync(path.join(www, 'setup/en/Halvern_64-bad.msi'), bad);
  fault = { log: path.join(work, 'fault.log'), portFile: path.join(work, 'fault.port') };
  fs.rmSync(fault.portFile, { force: true });
  faultServer = spawn('python3', [path.join(source, 'tests/support/fault_server.py'), '--docroot', www, '--log', fault.log,
    '--port-file', fault.portFile, '--lifetime', '1800'], { stdio: 'ignore' });
  fault.port = await until('the fault server', () => fs.existsSync(fault.portFile) && fs.readFileSync(fault.portFile, 'utf8').trim(), 20);
});

test.after(() => {
  if (faultServer) faultServer.kill();
  spawnSync('bash', [script('sample-product.sh'), 'stop', path.join(work, 'sample')]);
});

test('a connection dropped at 60 % resumes from the first unverified block; a second start meanwhile ends at once', async (t) => {
  const size = Number(sample.msi_bytes), tag = `drop${Date.now()}`;
  let second;
  const run = await wholeRun('drop', faultUrl(`tag=${tag}&cut.1=${Math.floor(size * 0.6)}`), {
    during: async (address, prefix) => {
      await until('the wizard', async () => (await (await fetch(address.replace(/Load\.html$/, '__bridge__/status'))).json()).page !== '', 60);
      const started = Date.now();
      const other = startBridge(prefix, pages('drop-second', sample.url));
      second = { code: await other.exited, seconds: (Date.now() - started) / 1000, output: other.output };
    },
  });
  assert.strictEqual(run.driven.code, 0, run.driven.output);
  assert.deepStrictEqual([second.code, second.output.includes('bridge: ready')], [0, false], second.output);
  assert.ok(second.seconds < 20, `the second start took ${second.seconds} s`);
  const requests = faultRequests(tag);
  assert.strictEqual(requests.length, 3, JSON.stringify(requests));
  assert.ok(bytesServed(requests[2], size) <= size * 0.4 + MIB, `the retry: ${requests[2].range} of ${size}`);
  t.diagnostic(`retry ${requests[2].range}: ${bytesServed(requests[2], size)} of ${size} bytes; second start ended with ${second.code} after ${second.seconds} s`);
  assert.deepStrictEqual([run.status, run.installed, run.code], ['1', sample.version, 0]);
});

test('a block served corrupted once is fetched again from that block and the install succeeds', async (t) => {
  const tag = `bad${Date.now()}`;
  const run = await wholeRun('corrupt-once', faultUrl(`tag=${tag}&etag=same&serve.1=${bad}`));
  assert.strictEqual(run.driven.code, 0, run.driven.output);
  const requests = faultRequests(tag);
  assert.strictEqual(requests.length, 3, JSON.stringify(requests));
  assert.match(requests[2].range, new RegExp(`^bytes=${5 * MIB}-`));
  t.diagnostic(`requests: ${requests.map((r) => r.range).join(', ')}`);
  assert.deepStrictEqual([run.status, run.installed], ['1', sample.version]);
});

test('a block the server keeps serving corrupted ends the run with status 2, a box and the fail reason', async (t) => {
  const tag = `bad-always${Date.now()}`;
  const run = await wholeRun('corrupt-always', faultUrl(`tag=${tag}&serve=${bad}`),
    { driverArgs: ['--expect-box'] });
  assert.strictEqual(run.driven.code, 0, run.driven.output);
  assert.match(run.driven.output, /box: /);
  assert.strictEqual(run.status, '2');
  const event = completedEvent(run.log);
  assert.match(event, /^install\.completed=NOK\|install\.fail-reason=\w+\|/);
  assert.strictEqual(run.installed, null);
  t.diagnostic(`${faultRequests(tag).length} requests for the package; ${event.split('|').slice(0, 2).join('|')}`);
});

test('with the package server down the run ends with NoNetwork and an error report carrying the log', async (t) => {
  const free = await new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => { const { port } = server.address(); server.close(() => resolve(port)); });
  });
  const service = keyValues(process.env.HALVERN_INSTALLER_SERVICE);
  const before = fs.readdirSync(service.bodies).filter((n) => n.endsWith('.zip'));
  const run = await wholeRun('server-down', `http://127.0.0.1:${free}/setup/en/Halvern_64.msi`, { driverArgs: ['--expect-box'] });
  assert.strictEqual(run.driven.code, 0, run.driven.output);
  assert.strictEqual(run.status, '2');
  assert.match(completedEvent(run.log), /^install\.completed=NOK\|install\.fail-reason=NoNetwork/);
  const uploads = fs.readdirSync(service.bodies).filter((n) => n.endsWith('.zip') && !before.includes(n));
  assert.strictEqual(uploads.length, 1, 'one log.zip');
  const listing = execFileSync('unzip', ['-l', path.join(service.bodies, uploads[0])], { encoding: 'utf8' });
  assert.match(listing, /installer_log_\d+\.txt/);
  t.diagnostic(`log.zip ${uploads[0]}: ${listing.split('\n').filter((l) => /installer_log/.test(l)).join('').trim()}`);
});

test('closing the wizard during the download keeps the partial file, and a later run resumes it', async (t) => {
  const first = await wholeRun('close', sample.url, { driverArgs: ['--close-at', '30'] });
  assert.strictEqual(first.driven.code, 0, first.driven.output);
  assert.strictEqual(first.status, '3');
  // The engine sizes the file at once; what it holds shows in where the later run starts.
  const kept = execFileSync('find', [path.join(first.prefix, 'drive_c/ProgramData/Velmora/Downloads'), '-name', 'Halvern_64.msi'], { encoding: 'utf8' });
  assert.match(kept, /Halvern_64\.msi/);

  const mark = fs.readFileSync(sample.nginx_log, 'utf8').length;
  const second = await wholeRun('close', sample.url, { prefix: first.prefix });
  assert.strictEqual(second.driven.code, 0, second.driven.output);
  // The size probe asks for the whole file; the download itself starts where the kept part ends.
  const starts = fs.readFileSync(sample.nginx_log, 'utf8').slice(mark).split('\n')
    .filter((l) => l.includes('Halvern_64.msi ')).map((l) => /"bytes=(\d+)-\d*"$/.exec(l)).filter(Boolean).map((m) => Number(m[1]));
  assert.ok(starts.length > 0 && starts[0] > 0 && starts[0] % MIB === 0, `the later run's ranges start at ${starts}`);
  t.diagnostic(`the later run downloaded from ${starts[0]} of ${sample.msi_bytes} bytes`);
  assert.deepStrictEqual([second.status, second.installed], ['1', sample.version]);
});

test('a package that needs a restart registers the run for after it, naming the stub\'s protected copy, and that run completes on the Installing page and removes it', async (t) => {
  const folder = path.join(build, 'bin/sample'), name = 'setup/en/Halvern_64-reboot.msi';
  // The sample's package with a restart scheduled at its end: it ends with 3010.
  const wxs = path.join(work, 'halvern-reboot.wxs'), platform = sample.platform;
  fs.writeFileSync(wxs, fs.readFileSync(path.join(source, 'sample/halvern.wxs'), 'utf8')
    .replace('</InstallExecuteSequence>', '  <ScheduleReboot After="InstallFinalize" />\n    </InstallExecuteSequence>'));
  sh('wixl', ['-a', platform, '-D', `Arch=${platform}`, '-D', `Version=${sample.version}`, '-D', `ProductID=${sample.pid}`,
    '-D', `VID=${sample.vid}`, '-o', `${wxs}.msi`, wxs], { cwd: folder });  // files from where it runs
  // Signed by the publisher the build pins, as the sample's own package.
  const publisher = path.join(source, 'tests/support/publisher/test-publisher');
  sh('osslsigncode', ['sign', '-certs', `${publisher}.pem`, '-key', `${publisher}.key`, '-h', 'sha256',
    '-in', `${wxs}.msi`, '-out', path.join(sample.docroot, name)]);
  sh('python3', [script('halvern-meta.py'), 'make', path.join(sample.docroot, name)]);
  const url = sample.url.replace('setup/en/Halvern_64.msi', name);
  const runOnceKey = 'HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce';
  const recordKey = 'HKCU\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77\\ResumeRecord';
  const first = await wholeRun('reboot', url);
  assert.strictEqual(first.driven.code, 0, first.driven.output);
  assert.deepStrictEqual([first.status, first.installed], ['1', sample.version]);
  // Registered once, after the package asked for the restart, and left for it with the record.
  const lines = first.log.split('\n');
  const asked = lines.findIndex((line) => /InstallMsi .*, return 3010/.test(line));
  const registered = lines.flatMap((line, at) => /EMRunAfterReboot \w/.test(line) ? [at] : []);
  assert.ok(asked >= 0, 'the package ended with 3010');
  assert.strictEqual(registered.length, 1, registered.map((at) => lines[at]).join('\n'));
  assert.ok(registered[0] > asked, `${lines[registered[0]]} after ${lines[asked]}`);
  // The bridge is the stub under Wine: the copy is of the running program, where users cannot write.
  const command = registry(first.prefix, runOnceKey, 'HLVN_77');
  assert.strictEqual(command, '"C:\\ProgramData\\Velmora\\HLVN\\page_bridge.exe" RESUME=Installing');
  const copy = path.join(first.prefix, 'drive_c/ProgramData/Velmora/HLVN/page_bridge.exe');
  assert.ok(fs.readFileSync(copy).equals(fs.readFileSync(bridgeExe)), 'the copy is the stub');
  assert.match(regQuery(first.prefix, recordKey), /_Lang_/);

  // Started as the next logon starts it: the package the first run kept is found installed, and
  // the run ends at once with success, taking the relaunch and the record away.
  const resumed = await wholeRun('reboot', url, { prefix: first.prefix, exe: copy, stubArgs: ['RESUME=Installing'],
    driverArgs: ['--until', 'Installing'] });
  assert.strictEqual(resumed.driven.code, 0, resumed.driven.output);
  assert.match(resumed.driven.output, /page: Installing/);
  assert.doesNotMatch(resumed.driven.output, /page: (Welcome|Downloading)/);
  assert.match(completedEvent(resumed.log), /^install\.completed=OK\|/);
  assert.strictEqual(resumed.status, '1');
  assert.strictEqual(registry(first.prefix, runOnceKey, 'HLVN_77'), null);
  assert.doesNotMatch(regQuery(first.prefix, recordKey), /_Lang_/);
  t.diagnostic(`RunOnce: ${command}; resumed run's status ${resumed.status}`);
});
