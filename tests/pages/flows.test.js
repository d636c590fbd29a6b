// Each wizard flow as the sequence of calls the stub receives.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const { launch, Run, calls } = require('./harness');

let env;
test.before(async () => { env = await launch(); });
test.after(async () => { await env.close(); });

const MB = 1048576;
const completed = (state) => calls(state, 'trackingByAnalyticsSDK').filter((c) => c.includes('install.completed'));
const statuses = (state) => state.calls.filter((c) => c.name === 'setInstallStatus').map((c) => c.args[0]);

// Through the pages up to the download with the clicks a user makes.
async function clickThrough(run) {
  await run.click('Welcome', '#btnNext');
  await run.click('Agreement', '#accept');
  await run.page.click('#btnNext');
  await run.click('Optional', '#btnNext');
  await run.click('Analytics', '#btnAgree');
}

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
  await run.until((s) => s.installs === 1 && s.calls.some((c) => c.name === 'undoRunAfterReboot'));
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
    'runAfterReboot("Downloading")', 'trackUserActivity("Downloading_Start")',
    'download("https://download.halvern.com/setup/en/Halvern_64.msi", "C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi", "", false, true, "<function>")',
    'setProperty("Config_Status", "5")', 'prepareInstall("C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi")',
    'install("C:\\\\Users\\\\u\\\\AppData\\\\Local\\\\Temp\\\\HLVN\\\\Halvern_64.msi", "VID=halvern-web REBOOT=ReallySuppress /qb!", 180, "<function>")',
    'setProperty("Config_Status", "1")', 'undoRunAfterReboot()', 'setInstallStatus(1)', 'showWindow()',
    'startProgram("C:\\\\Program Files\\\\Halvern\\\\Halvern.exe", "")', 'hideWindow()',
    'openPage("https://www.halvern.com/thank-you?pid=HLVN&version=77.0.1&lang=en&bits=64&vid=halvern-web")',
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
  assert.deepStrictEqual(run.errors, []);
  await run.end();
});
