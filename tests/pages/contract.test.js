// What the system's HTML engine needs from the package: ECMAScript 5 in every script of its own
// and IE=edge in every page, and every window.external call in the form the stub accepts.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const acorn = require('acorn');
const walk = require('acorn-walk');
const { MethodTable } = require('./method-table');
const { packageFolder } = require('./harness');

const libraries = new Set(['common/js/jquery.min.js', 'common/js/jquery-ui.js']);
function files(folder, ending) {
  return fs.readdirSync(folder, { recursive: true }).map((f) => f.split(path.sep).join('/'))
    .filter((f) => f.endsWith(ending) && !libraries.has(f));
}
const scripts = files(packageFolder, '.js');
const parse = (file) => acorn.parse(fs.readFileSync(path.join(packageFolder, file), 'utf8'), { ecmaVersion: 5, locations: true });

test('every script of the package parses as ECMAScript 5 and every page declares IE=edge', () => {
  assert.ok(scripts.length >= 25, `${scripts.length} scripts`);
  for (const file of scripts) assert.doesNotThrow(() => parse(file), file);
  for (const file of files(packageFolder, '.html')) {
    assert.match(fs.readFileSync(path.join(packageFolder, file), 'utf8'), /<meta http-equiv="X-UA-Compatible" content="IE=edge">/, file);
  }
});

// Problems of the appExternal calls in a script: unknown names, argument counts, call forms, and
// any other use of the object (a copy would hide its calls from this check).
function callSiteProblems(ast, file) {
  const problems = [];
  walk.ancestor(ast, {
    Identifier(node, ancestors) {
      if (node.name !== 'appExternal') return;
      const parent = ancestors[ancestors.length - 2];
      if (parent.type === 'VariableDeclarator' && parent.id === node && file === 'common/js/external.js') return;
      const call = ancestors[ancestors.length - 3];
      const where = `${file}:${node.loc.start.line}`;
      if (parent.type !== 'MemberExpression' || parent.object !== node || parent.computed || !call || call.type !== 'CallExpression' || call.callee !== parent) {
        problems.push(`${where}: appExternal used other than for a call`);
        return;
      }
      const name = parent.property.name, entry = MethodTable[name];
      if (!entry) return problems.push(`${where}: ${name} is not a method of the stub`);
      if (call.arguments.length !== entry.args) problems.push(`${where}: ${name} takes ${entry.args} arguments, given ${call.arguments.length}`);
      const statement = ancestors[ancestors.length - 4].type === 'ExpressionStatement';
      if (entry.flags === 3 && statement) problems.push(`${where}: the value of ${name} must be used`);
      if (entry.flags === 1 && entry.args > 0 && !statement) problems.push(`${where}: ${name} must be called as a statement`);
    },
    MemberExpression(node) {
      if (node.object.type === 'Identifier' && node.object.name === 'window' && node.property.name === 'external' && file !== 'common/js/external.js') {
        problems.push(`${file}:${node.loc.start.line}: window.external used directly`);
      }
    },
  });
  return problems;
}

test('every window.external call of the pages has the name, argument count and call form of the method table', () => {
  const cases = [
    ['var a = appExternal.getProperty("x");', []],
    ['appExternal.getProperty("x");', ['the value of getProperty must be used']],
    ['var a = appExternal.setProperty("x", "y");', ['setProperty must be called as a statement']],
    ['appExternal.setProperty("x");', ['setProperty takes 2 arguments, given 1']],
    ['appExternal.noSuchMethod();', ['noSuchMethod is not a method of the stub']],
    ['var e = appExternal; e.closeWindow();', ['appExternal used other than for a call']],
    ['window.external.closeWindow(); if (appExternal.isSilentLaunchStub()) appExternal.hideWindow();', ['window.external used directly']],
  ];
  for (const [source, expected] of cases) {
    const found = callSiteProblems(acorn.parse(source, { ecmaVersion: 5, locations: true }), 'x.js').map((p) => p.replace(/^x\.js:\d+: /, ''));
    assert.deepStrictEqual(found, expected, source);
  }
  let sites = 0;
  for (const file of scripts) {
    assert.deepStrictEqual(callSiteProblems(parse(file), file), [], file);
    sites += (fs.readFileSync(path.join(packageFolder, file), 'utf8').match(/appExternal\./g) || []).length;
  }
  assert.ok(sites > 50, `${sites} call sites`);
});
