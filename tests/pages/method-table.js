// The method table the stub is tested against, for Node.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');
const context = {};
vm.runInNewContext(fs.readFileSync(path.join(__dirname, '../../tools/page-bridge/method-table.js'), 'utf8'), context);
module.exports = { MethodTable: context.MethodTable };
