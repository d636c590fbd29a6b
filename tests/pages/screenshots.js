// Renders every wizard page in English and German at 100 % and 150 % into PNG files to look at:
//   node tests/pages/screenshots.js [folder]        (default /tmp/halvern-pages)
// Not part of the test run.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { launch, wizardPages, showPage } = require('./harness');

(async () => {
  const folder = path.resolve(process.argv[2] || '/tmp/halvern-pages');
  fs.mkdirSync(folder, { recursive: true });
  const env = await launch();
  try {
    for (const lang of ['en', 'de']) {
      for (const scale of [1, 1.5]) {
        for (const page of wizardPages) {
          const run = await showPage(env, page, lang, scale);
          const file = path.join(folder, `${page}-${lang}-${scale * 100}.png`);
          await run.page.screenshot({ path: file });
          if (run.errors.length) console.error(`${page} ${lang}: ${run.errors.join('; ')}`);
          await run.end();
          console.log(file);
        }
      }
    }
  } finally {
    await env.close();
  }
})();
