'use strict';
// Checks jsxc's source maps with the npm package source-map:
//
//   node sourcemap-check.js --jsxc <path-to-jsxc> <source-map-package> <folder>
//
// Every .js and .jsx file below the folder is compiled with --sourcemap. The map must
// be version 3, name its source relative to the map and hold its text; every mapping
// must keep the line, and every mapping that starts at a name in the source must lead
// to output whose segment (up to the next mapping on the line) holds the same name
// (the rewritten keywords, and names that a rewrite drops from their line, aside). Each name of the source that the output keeps on its place must be
// reached by a mapping. Prints one line per file and "FAIL ..." for each fault.
const fs = require('fs');
const os = require('os');
const path = require('path');
const childProcess = require('child_process');

const [flag, jsxc, pkg, folder] = process.argv.slice(2);
if (flag !== '--jsxc' || !folder) {
  console.error('usage: node sourcemap-check.js --jsxc <jsxc> <source-map-package> <folder>');
  process.exit(2);
}
const { SourceMapConsumer } = require(pkg);
// Words that a rewrite replaces or moves: the module keywords, `event`, and the markup
// attribute vdata, which moves to the end of its element.
const rewritten = new Set(['import', 'export', 'event', 'from', 'as', 'default', 'vdata']);
const nameAt = (text, i) => {
  const m = /^[A-Za-z_$][\w$]*/.exec(text.slice(i));
  return m && (i === 0 || !/[\w$]/.test(text[i - 1])) ? m[0] : null;
};

function files(dir) {
  const out = [];
  for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
    const p = path.join(dir, e.name);
    if (e.isDirectory()) out.push(...files(p));
    else if (/\.jsx?$/.test(e.name)) out.push(p);
  }
  return out.sort();
}

async function check(file, tmp) {
  const faults = [];
  const outFile = path.join(tmp, 'out', path.basename(file) + '.js');
  fs.mkdirSync(path.dirname(outFile), { recursive: true });
  const r = childProcess.spawnSync(jsxc, [file, outFile, '--sourcemap'], { encoding: 'utf8' });
  if (r.status !== 0) return [`jsxc failed: ${r.stdout}${r.stderr}`];
  const output = fs.readFileSync(outFile, 'utf8');
  const raw = JSON.parse(fs.readFileSync(outFile + '.map', 'utf8'));
  const source = fs.readFileSync(file, 'utf8');
  const link = `//# sourceMappingURL=${path.basename(outFile)}.map\n`;
  if (!output.endsWith(link)) faults.push('no sourceMappingURL line at the end');
  if (raw.version !== 3) faults.push(`version ${raw.version}`);
  const expectedSource = path.relative(path.dirname(outFile), file).split(path.sep).join('/');
  if (raw.sources[0] !== expectedSource) faults.push(`sources ${raw.sources} != ${expectedSource}`);
  if (raw.sourcesContent[0] !== source) faults.push('sourcesContent differs from the source');
  const srcLines = source.split('\n');
  const outLines = output.split('\n');
  const reached = new Set();
  let count = 0;
  await SourceMapConsumer.with(raw, null, (consumer) => {
    const all = [];
    consumer.eachMapping((m) => all.push(m));
    count = all.length;
    // The segments of each source place: a token may be mapped where its line was
    // checked and again where its name was written after a rewrite.
    const segments = new Map();
    all.forEach((m, k) => {
      if (m.originalLine !== m.generatedLine) {
        faults.push(`line ${m.generatedLine} maps to line ${m.originalLine}`);
        return;
      }
      const outLine = outLines[m.generatedLine - 1] || '';
      const next = all[k + 1];
      const end = next && next.generatedLine === m.generatedLine ? next.generatedColumn : outLine.length;
      const key = `${m.originalLine}:${m.originalColumn}`;
      segments.set(key, (segments.get(key) || []).concat([outLine.slice(m.generatedColumn, end)]));
      // The consumer's own lookup agrees.
      const back = consumer.originalPositionFor({ line: m.generatedLine, column: m.generatedColumn });
      if (back.line !== m.originalLine || back.column !== m.originalColumn) {
        faults.push(`originalPositionFor(${m.generatedLine}:${m.generatedColumn}) is ${back.line}:${back.column}`);
      }
    });
    for (const [key, texts] of segments) {
      const [line, column] = key.split(':').map(Number);
      const name = nameAt(srcLines[line - 1] || '', column);
      if (!name || rewritten.has(name)) continue;
      reached.add(key);
      const word = new RegExp(`(^|[^\\w$])${name.replace(/\$/g, '\\$')}($|[^\\w$])`);
      // A name that a rewrite drops or moves to another line has nothing to map to.
      if (!word.test(outLines[line - 1] || '')) continue;
      if (!texts.some((t) => word.test(t))) {
        faults.push(`${name} at ${key} maps to ${JSON.stringify(texts)}`);
      }
    }
  });
  // A name that stands at the same place in both texts, outside strings and comments
  // as far as a plain look can tell, must be the start of a mapping.
  srcLines.forEach((line, i) => {
    const outLine = outLines[i] || '';
    if (/['"`]|\/\/|\/\*|</.test(line)) return;
    const re = /[A-Za-z_$][\w$]*/g;
    let m;
    while ((m = re.exec(line))) {
      if (rewritten.has(m[0]) || outLine.substr(m.index, m[0].length) !== m[0]) continue;
      if (m.index > 0 && /[\d.]/.test(line[m.index - 1])) continue;
      if (!reached.has(`${i + 1}:${m.index}`)) faults.push(`no mapping for ${m[0]} at ${i + 1}:${m.index}`);
    }
  });
  if (count === 0) faults.push('no mappings');
  return faults;
}

(async () => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'jsxc-map-'));
  let failed = 0;
  try {
    for (const file of files(folder)) {
      const faults = await check(file, tmp);
      console.log(`${faults.length ? 'FAIL' : 'ok'} ${path.relative(folder, file)}`);
      for (const f of faults.slice(0, 10)) console.log(`FAIL   ${f}`);
      if (faults.length) failed++;
    }
  } finally {
    fs.rmSync(tmp, { recursive: true, force: true });
  }
  process.exit(failed ? 1 : 0);
})();
