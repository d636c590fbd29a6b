// Each wizard flow as the sequence of calls the stub receives.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { launch, Run, calls, wizardPages, showPage } = require('./harness');

let env;
test.before(async () => { env = await launch(); });
test.after(async () => { await env.close(); });

const MB = 1048576;
const completed = (state) => calls(state, 'trackingByAnalyticsSDK').filter((c) => c.includes('install.completed'));
const statuses = (state) => state.calls.filter((c) => c.name === 'setInstallStatus').map((c) => c.args[0]);
const recordKey = 'HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77\\ResumeRecord';

// What a run leaves for the next logon: its relaunch calls in order, and whether the resume record
// still stands at its end.
function leftForRestart(state) {
  let record = false;
  for (const c of state.calls) {
    if (c.name === 'setDataToReg' && c.args[0] === recordKey) record = true;
    if (c.name === 'deleteRegKey' && c.args[0] === recordKey) record = false;
  }
  return { relaunch: calls(state).filter((c) => /^(runAfterReboot|undoRunAfterReboot)\(/.test(c)), record };
}
const nothingLeft = { relaunch: ['undoRunAfterReboot()'], record: false };

// Through the pages up to the download with the clicks a user makes, taking the partner
// application on the Optional page when asked.
async function clickThrough(run, partner = false) {
  await run.click('Welcome', '#btnNext');
  await run.click('Agreement', '#accept');
  await run.page.click('#btnNext');
  await run.onPage('Optional');
  if (partner) await run.page.check('input[name=optional][value=yes]');
  await run.page.click('#btnNext');
  await run.click('Analytics', '#btnAgree');
}
// The product installed, on to the Finish page and its button.
async function finishWithPartner(run) {
  await clickThrough(run, true);
  await run.until((s) => s.installs === 1 && calls(s).includes('setProperty("Config_Status", "1")'));
  await run.page.clock.runFor(3000);
  await run.click('Finish', '#btnFinish');
  await run.until((s) => s.installs === 2);
}
const partnerFile = 'C:\\Users\\u\\AppData\\Local\\Temp\\HLVN\\BreezenoteSetup.exe';
// Actions an administrator configured for a product's own pages: the wizard's Finish runs none.
const withPostInstallActions = (registry) => Object.assign({
  'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer|Version': '11.0.19041.1',
  'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full|Release': '528372',
  'HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Setup\\StubFrameWork|RunAPP': 'C:\\Tools\\after.exe',
  'HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Setup\\StubFrameWork|OpenURL': 'https://example.com/after',
  'HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Setup\\StubFrameWork|ExecuteCMD': 'cmd /c after',
}, registry);
const noPostInstallActions = ['runApplication', 'executeCommand', 'example.com/after'];

test('the happy path goes from the start page through download and install to the launch and the thank-you page', async () => {
  const run = await Run.start(env.browser, env.base, {
    downloads: [[[10, 50 * MB, 0], [10, 50 * MB, 20 * MB], [10, 50 * MB, 40 * MB]]],
    installs: [[[10, 100, 30], [0, 100, 100]]],
    properties: { osbits: '64', pid: 'HLVN', version: '77.0.1', startProgram: 'C:\\Program Files\\Halvern\\Halvern.exe' },
  });
  await clickThrough(run);
  await run.onPage('Downloading');
  await run.until((s) => s.downloads === 1);
  await run.page.clock.runFor(2000);
  await run.check(() => document.getElementById('percent').textContent === '80 %');
  assert.match(await run.page.textContent('#size'), /^40\.0 MB of 50\.0 MB$/);
  assert.strictEqual(await run.page.getAttribute('#progress', 'aria-valuenow'), '80');
  await run.page.evaluate(() => window.finishOperation(0));
  await run.until((s) => s.installs === 1 && calls(s).includes('setProperty("Config_Status", "1")'));
  await run.page.clock.runFor(3000);
  await run.click('Finish', '#btnFinish');
  await run.until((s) => s.calls.some((c) => c.name === 'hideWindow'));
  await run.page.clock.runFor(6000);
  const state = await run.closed();
  const all = calls(state);
  const order = ['getOSLang()', 'setLang(1)', 'getOSVersionAndBuildNumber()', 'downloadAndInstallWV2RT()', 'setInstallStatus(0)',
    'setProperty("Config_Status", "0")', 'setChannel("web")', 'setProperty("__Extract_In_Download__", "false")',
    'setWindowSize(646, 504)', 'getResumeMode()', 'setProperty("isISO", "false")', 'setTrackingProperty(1, "en")',
    'setTrackingProperty(0, "web")', 'setTrackingProperty(2, "Halvern_64.msi")', 'trackingByAnalyticsSDK("install.start", "")',
    'trackUserActivity("Welcome_Next")', 'setProperty("select_agreement", "true")', 'trackUserActivity("Agreement_Next")',
    'trackingByAnalyticsSDK("install.license", "install.license=yes")', 'setTrackingProperty(4, "yes")',
    'setProperty("selectOptional", "no")', 'trackUserActivity("Offers_Made")', 'trackUserActivity("Analytics_Agree")',
    'trackingByAnalyticsSDK("install.analytics", "install.analytics=opt-in")', 'setTrackingProperty(3, "opt-in")',
    'setDataToReg("HKEY_CURRENT_USER\\\\SOFTWARE\\\\Velmora\\\\HALVERN\\\\SUBS", "GDPR_OPTIN", "1", true)',
    'getTempPath("")', 'initDownloadSize("https://download.halvern.com/setup/en/Halvern_64.msi", "C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi", true)',
    'trackUserActivity("Downloading_Start")',
    'download("https://download.halvern.com/setup/en/Halvern_64.msi", "C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi", "", false, true, "<function>")',
    'setProperty("Config_Status", "5")', 'prepareInstall("C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi")',
    'install("C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi", "VID=halvern-web REBOOT=ReallySuppress /qb!", 180, "<function>")',
    'setProperty("Config_Status", "1")', 'setInstallStatus(1)', 'showWindow()',
    'startProgram("C:\\\\Program Files\\\\Halvern\\\\Halvern.exe", "")', 'hideWindow()',
    'openPage("https://www.halvern.com/thank-you?pid=HLVN&version=77.0.1&lang=en&bits=64&vid=halvern-web")',
    'undoRunAfterReboot()', 'deleteRegKey("HKEY_CURRENT_USER\\\\SOFTWARE\\\\Velmora\\\\stubframework\\\\HLVN\\\\77\\\\ResumeRecord", true)',
    'trackingByAnalyticsSDK("install.completed", "install.completed=OK")', 'closeWindow()'];
  let at = -1;
  for (const call of order) {
    const next = all.indexOf(call, at + 1);
    assert.ok(next > at, `${call} after ${all[at]}; calls:\n${all.join('\n')}`);
    at = next;
  }
  const time = (name) => state.calls.find((c) => c.name === name).time;
  assert.ok(time('openPage') - time('hideWindow') >= 6000, 'the thank-you page 6 s after the launch');
  assert.deepStrictEqual(completed(state).length, 1);
  assert.deepStrictEqual(leftForRestart(state), nothingLeft);
  assert.deepStrictEqual(run.errors, []);
  await run.end();
});

// A resume record as any program of the user can write it: an address and a folder of its own, a
// component the package does not list, values that are no choice of the wizard's. Only the
// language, the edition, download-only and the package's own components count.
const temp = 'C:\\Users\\u\\AppData\\Local\\Temp\\HLVN\\Halvern_64.msi';
const plantedRecord = (values) => {
  const registry = {
    'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer|Version': '11.0',
    'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5|Version': '3.5.30729',
  };
  const record = Object.assign({ _DownloadUrl_: 'http://127.0.0.1:8000/planted.msi', _Directory_: 'C:\\Windows\\System32\\',
    _DownloadSize_: '1', _IsISO_: 'true', _IsDownloadOnly_: 'true', _OS_: '64', _Lang_: 'de',
    _Components_: 'MainContent64;Planted64;startProgram64' }, values);
  for (const name of Object.keys(record)) registry[`${recordKey}|${name}`] = record[name];
  return registry;
};
const plantedNever = ['planted', 'System32', 'Planted64', 'startProgram64', 'setProperty("isISO", "true")', 'setProperty("downloadSize", "1")'];

// Short flows: each starts with its script, drives the pages with its steps and is checked by
// what the stub received, and by what it leaves for after a restart (restart; nothing by default).
const flows = [
  { name: 'a Windows 10 build below 17134 shows the OS box and ends with status 4', script: { returns: { getOSVersionAndBuildNumber: '10.0.17133' } },
    box: 'Halvern needs Windows 10 version 1803 or later.', status: [4], reason: 'install.completed=NOK|install.fail-reason=EnviromentNotMeet', absent: 'setWindowSize' },
  { name: 'a 32-bit Windows stops at the architecture check', script: { properties: { osbits: '86' } },
    box: 'Halvern needs a 64-bit version of Windows.', status: [4], reason: 'install.completed=NOK|install.fail-reason=EnviromentNotMeet', absent: 'downloadAndInstallWV2RT' },
  { name: 'a download that ends with NoNetwork ends with status 2, a box and that fail reason', script: { downloads: [[[10, 100, 5], [8, 0, 0]]] }, steps: clickThrough,
    box: 'The download failed. Check your internet connection and try again.', status: [0, 2], reason: 'install.completed=NOK|install.fail-reason=NoNetwork', absent: 'install' },
  { name: 'an install that fails with 1603 ends with status 2, a box and the fail reason Failure',
    script: { installs: [[[10, 100, 30], [4, 0, 0]]], returns: { getLastInstallError: 1603 } }, steps: clickThrough,
    box: 'The installation failed.', status: [0, 2], reason: 'install.completed=NOK|install.fail-reason=Failure', present: ['getLastInstallError()'] },
  { name: 'a package prepareInstall finds installed is not installed and the run ends on Finish with status 1',
    script: { returns: { prepareInstall: 1 } }, steps: async (run) => { await clickThrough(run); await run.click('Finish', '#btnFinish'); },
    status: [0, 1], reason: 'install.completed=OK', absent: 'install' },
  { name: 'a package prepareInstall finds installed otherwise is not installed and the run ends on Finish with status 2',
    script: { returns: { prepareInstall: 2 }, registry: withPostInstallActions() }, steps: async (run) => { await clickThrough(run); await run.click('Finish', '#btnFinish'); },
    status: [0, 2], reason: 'install.completed=NOK|install.fail-reason=UnknowError', absent: 'install', never: noPostInstallActions },
  { name: 'a silent launch on a Windows 10 build below 17134 shows no box and ends with status 4', script: { returns: { getOSVersionAndBuildNumber: '10.0.17133', isSilentLaunchStub: true } },
    status: [4], reason: 'install.completed=NOK|install.fail-reason=EnviromentNotMeet', absent: 'setWindowSize' },
  { name: 'a partner application chosen on the Optional page is downloaded after the product and installed on Finish, and the run ends with status 1',
    script: { registry: withPostInstallActions() }, steps: finishWithPartner,
    status: [0, 1], reason: 'install.completed=OK', never: noPostInstallActions,
    order: ['setProperty("selectOptional", "yes")', 'download("https://download.halvern.com/setup/en/Halvern_64.msi", "C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi", "", false, true, "<function>")',
      `download("https://download.halvern.com/partner/BreezenoteSetup.exe", ${JSON.stringify(partnerFile)}, "", false, true, "<function>")`,
      'install("C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi", "VID=halvern-web REBOOT=ReallySuppress /qb!", 180, "<function>")',
      'setInstallStatus(1)', 'trackUserActivity("Offers_Installed")', `install(${JSON.stringify(partnerFile)}, "/S", 180, "<function>")`,
      'trackingByAnalyticsSDK("install.completed", "install.completed=OK")', 'closeWindow()'] },
  { name: 'a partner install that fails after the product closes with OK first, then sets status 2 and shows the box',
    script: { installs: [[[0, 0, 0]], [[10, 100, 40], [4, 0, 0]]] }, steps: finishWithPartner,
    box: 'The installation failed.', status: [0, 1, 2], reason: 'install.completed=OK',
    order: ['trackUserActivity("Offers_Installed")', `install(${JSON.stringify(partnerFile)}, "/S", 180, "<function>")`,
      'trackingByAnalyticsSDK("install.completed", "install.completed=OK")', 'closeWindow()', 'setInstallStatus(2)', 'messageBox("The installation failed.", "Halvern")'] },
  { name: 'closing the Agreement page declines the license and ends with status 3', steps: async (run) => { await run.click('Welcome', '#btnNext'); await run.click('Agreement', '#btnClose'); },
    status: [0, 3], reason: 'install.completed=CNX|install.fail-reason=UserCanceled', present: ['trackUserActivity("Agreement_Close")', 'trackingByAnalyticsSDK("install.license", "install.license=no")', 'setTrackingProperty(4, "no")'] },
  { name: 'closing the Downloading page stops the download and ends with status 3', script: { downloads: [[[10, 100, 5]]] },
    steps: async (run) => { await clickThrough(run); await run.until((s) => s.downloads === 1); await run.click('Downloading', '#btnClose'); },
    status: [0, 3], reason: 'install.completed=CNX|install.fail-reason=UserCanceled', absent: 'install', present: ['stopDownload()', 'trackUserActivity("Downloading_Close")'] },
  { name: 'a package that asks for a restart (3010) leaves the record and the relaunch on the Installing page, and the run ends with status 1',
    script: { installs: [[[10, 100, 30], [11, 0, 0]]] },
    steps: async (run) => { await clickThrough(run); await run.until((s) => s.installs === 1 && calls(s).includes('setProperty("Config_Status", "1")')); await run.page.clock.runFor(3000); await run.click('Finish', '#btnFinish'); },
    status: [0, 1], reason: 'install.completed=OK', restart: { relaunch: ['runAfterReboot("Installing")'], record: true },
    present: [`setDataToReg(${JSON.stringify(recordKey)}, "_Components_", "MainContent64", true)`] },
  { name: 'a resumed download takes the recorded language and choices, not the recorded address or folder, silently without a click',
    script: { returns: { getResumeMode: 1, isSilentLaunchStub: true }, registry: plantedRecord() },
    steps: async (run) => { await run.until((s) => s.installs === 1); await run.page.clock.runFor(3000); },
    status: [0, 1], reason: 'install.completed=OK', absent: 'messageBox', never: plantedNever,
    present: ['hideWindow()', 'setLang(3)', 'setProperty("isDownloadOnly", "true")', 'setProperty("isDownload64", "true")',
      'setProperty("MainContent64", "true")', `download("https://download.halvern.com/setup/de/Halvern_64.msi", ${JSON.stringify(temp)}, "", false, true, "<function>")`,
      `install(${JSON.stringify(temp)}, "VID=halvern-web REBOOT=ReallySuppress /qb!", 180, "<function>")`] },
  { name: 'a run resumed on the Installing page installs the package from its own folder and ends with status 1, though that page is outside the sequence',
    script: { returns: { getResumeMode: 2 }, registry: plantedRecord({ _IsDownloadOnly_: 'C:\\Windows' }) },
    steps: async (run) => { await run.until((s) => s.installs === 1); await run.page.clock.runFor(3000); },
    status: [0, 1], reason: 'install.completed=OK', absent: 'messageBox', never: plantedNever.concat(['isDownloadOnly']),
    present: [`prepareInstall(${JSON.stringify(temp)})`, `install(${JSON.stringify(temp)}, "VID=halvern-web REBOOT=ReallySuppress /qb!", 180, "<function>")`] },
];

for (const flow of flows) {
  test(flow.name, async () => {
    const run = await Run.start(env.browser, env.base, flow.script || {});
    if (flow.steps) await flow.steps(run);
    const state = await run.closed();
    const all = calls(state);
    assert.deepStrictEqual(calls(state, 'messageBox'), flow.box ? [`messageBox(${JSON.stringify(flow.box)}, "Halvern")`] : []);
    assert.deepStrictEqual(statuses(state), flow.status);
    assert.deepStrictEqual(completed(state), [`trackingByAnalyticsSDK("install.completed", ${JSON.stringify(flow.reason)})`]);
    if (flow.absent) assert.deepStrictEqual(calls(state, flow.absent), []);
    for (const call of flow.present || []) assert.ok(all.includes(call), `${call} in\n${all.join('\n')}`);
    for (const text of flow.never || []) assert.deepStrictEqual(all.filter((c) => c.includes(text)), [], text);
    let at = -1;
    for (const call of flow.order || []) {
      at = all.indexOf(call, at + 1);
      assert.ok(at >= 0, `${call} in order in\n${all.join('\n')}`);
    }
    assert.deepStrictEqual(leftForRestart(state), flow.restart || nothingLeft);
    assert.deepStrictEqual(run.errors, []);
    await run.end();
  });
}

test('post-install actions, kept for a product\'s own pages, run what an administrator configured and name the ones that failed', async () => {
  const run = await Run.start(env.browser, env.base, { registry: withPostInstallActions(), returns: { runApplication: false, executeCommand: true } });
  await run.onPage('Welcome');
  assert.deepStrictEqual(await run.page.evaluate(() => Common.postInstallActions()), ['RunAPP']);
  const all = calls(await run.until(() => true));
  for (const call of ['runApplication("C:\\\\Tools\\\\after.exe")', 'openPage("https://example.com/after")', 'executeCommand("cmd /c after")'])
    assert.ok(all.includes(call), `${call} in\n${all.join('\n')}`);
  await run.end();
});

test('the window is 647 x 505 scaled by 4/5 until it fits the screen less 100 pixels', async () => {
  for (const [screen, size] of [[[1920, 1040], [646, 504]], [[800, 560], [517, 404]], [[640, 480], [414, 323]], [[0, 0], [212, 165]]]) {
    const run = await Run.start(env.browser, env.base, { screen });
    const state = await run.until((s) => s.calls.some((c) => c.name === 'setWindowSize'));
    assert.deepStrictEqual(calls(state, 'setWindowSize'), [`setWindowSize(${size.join(', ')})`], screen.join(' x '));
    await run.end();
  }
});

test('download progress shows sizes in the language\'s number form and install progress shows none, each with its time left', async () => {
  for (const [page, lang, size, remaining] of [['Downloading', 'en', '18.5 MB of 50.0 MB', /^About \d+ s left$/],
    ['Downloading', 'de', '18,5 MB von 50,0 MB', /^Noch etwa \d+ Sek\.$/], ['Installing', 'de', '', /^Noch etwa \d+ Sek\.$/]]) {
    const run = await showPage(env, page, lang, 1);
    assert.deepStrictEqual(await run.page.evaluate(() => ['percent', 'size'].map((id) => document.getElementById(id).textContent)), ['37 %', size], `${page} ${lang}`);
    assert.match(await run.page.textContent('#remaining'), remaining);
    await run.end();
  }
});

// What the page shows that does not fit: a box outside the window, or content larger than its
// box (clipped or spilling out), except in the boxes meant to scroll.
function overflows() {
  const problems = [];
  const name = (e) => e.tagName.toLowerCase() + (e.id ? '#' + e.id : '') + (e.className && typeof e.className === 'string' ? '.' + e.className.trim().split(/\s+/).join('.') : '');
  for (const element of document.querySelectorAll('body *')) {
    const style = getComputedStyle(element);
    if (element.closest('.visually-hidden, script') || !element.getClientRects().length || style.visibility === 'hidden') continue;
    const box = element.getBoundingClientRect();
    if (box.left < 0 || box.top < 0 || box.right > innerWidth || box.bottom > innerHeight) {
      problems.push(`${name(element)} at ${box.left},${box.top}-${box.right},${box.bottom}`);
    }
    const scrolls = (overflow) => overflow === 'auto' || overflow === 'scroll';
    if ((element.scrollWidth > element.clientWidth && !scrolls(style.overflowX)) ||
        (element.scrollHeight > element.clientHeight && !scrolls(style.overflowY))) {
      problems.push(`${name(element)} holds ${element.scrollWidth} x ${element.scrollHeight} in ${element.clientWidth} x ${element.clientHeight}`);
    }
  }
  return problems;
}

const shown = [];
for (const lang of ['en', 'de']) for (const scale of [1, 1.5]) for (const page of wizardPages) shown.push({ page, lang, scale });

test('every page in English and German at 100 % and 150 % fits the 647 x 505 window without cut or spilling text', async () => {
  for (const { page, lang, scale } of shown) {
    const run = await showPage(env, page, lang, scale);
    assert.deepStrictEqual(await run.page.evaluate(overflows), [], `${page} ${lang} ${scale * 100} %`);
    assert.deepStrictEqual(run.errors, []);
    await run.end();
  }
});

test('no page in English or German has an accessibility violation of serious or critical impact', async () => {
  for (const { page, lang } of shown.filter((s) => s.scale === 1)) {
    const run = await showPage(env, page, lang, 1);
    await run.page.addScriptTag({ path: path.join(require.resolve('axe-core'), '../axe.min.js') });
    const found = await run.page.evaluate(async () => (await axe.run(document, { resultTypes: ['violations'] })).violations
      .filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => `${v.id} (${v.impact}): ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
    assert.deepStrictEqual(found, [], `${page} ${lang}`);
    await run.end();
  }
});
