// Shared by the live page's browser tests: a collector with --http, a
// headless chromium, and a watch over what the page does.
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const workDir = process.env.MOX_PAGE_TEST_DIR;
const kLimitMs = 60000;
const cleanups = [];

export function check(condition, message) {
  if (!condition) throw new Error(message);
}

export async function waitFor(what, probe, limitMs = 20000) {
  const end = Date.now() + limitMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// Runs the test body within kLimitMs; exits 0 when it passes, 1 otherwise.
export function run(name, body) {
  const timer = setTimeout(() => finish(new Error('over ' + kLimitMs / 1000 + ' s')), kLimitMs);
  const finish = async (error) => {
    clearTimeout(timer);
    for (const cleanup of cleanups.reverse()) await cleanup().catch(() => {});
    if (error) {
      console.error(name + ': FAILED: ' + (error.stack || error));
      process.exit(1);
    }
    console.log(name + ': passed');
    process.exit(0);
  };
  body().then(() => finish(), finish);
}

function exited(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) resolve();
    else child.once('exit', resolve);
  });
}

// mox-collect on free loopback ports with the live page; stop() ends it with SIGTERM.
export async function startCollector() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'mox-page-'));
  const child = spawn(process.env.MOX_COLLECT_BIN,
      ['--listen', '127.0.0.1:0', '--port-file', path.join(dir, 'port'), '--http', '127.0.0.1:0', '--quiet',
        '--timeout', '120'],
      {stdio: ['ignore', 'ignore', 'pipe']});
  let stderr = '';
  child.stderr.on('data', (data) => stderr += data);
  const stop = async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
    await exited(child);
    fs.rmSync(dir, {recursive: true, force: true});
    check(child.exitCode === 0, 'mox-collect ended with ' + (child.exitCode ?? child.signalCode) + ':\n' + stderr);
  };
  cleanups.push(stop);
  const url = await waitFor('the page address', () => (stderr.match(/live page at (http:\/\/127\.0\.0\.1:\d+\/)/) || [])[1]);
  const port = await waitFor('the collector port', () => {
    try {
      return Number(fs.readFileSync(path.join(dir, 'port'), 'utf8').trim());
    } catch {
      return 0;
    }
  });
  return {url, port, dir, stderr: () => stderr, stop};
}

// Runs mox-demo against the collector; its standard output.
export async function runDemo(collector, seconds) {
  const child = spawn(process.env.MOX_DEMO_BIN,
      ['--collector', '127.0.0.1:' + collector.port, '--seconds', String(seconds), '--logdir', collector.dir],
      {stdio: ['ignore', 'pipe', 'inherit']});
  let stdout = '';
  child.stdout.on('data', (data) => stdout += data);
  await exited(child);
  check(child.exitCode === 0, 'mox-demo failed: ' + stdout);
  return stdout;
}

export async function launchBrowser() {
  const browser = await puppeteer.launch({
    executablePath: process.env.MOX_TEST_CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run', '--window-size=1400,1000'],
    defaultViewport: {width: 1400, height: 1000},
  });
  cleanups.push(() => browser.close());
  return browser;
}

const kOwnPaths = [/^\/$/, /^\/page\.(js|css)$/, /^\/api\/(tables|traces)$/, /^\/api\/traces\/\d+$/, /^\/favicon\.ico$/];

// Collects the page's script errors, error and warning messages (a refusal by
// the Content-Security-Policy is one) and requests for anything but its own
// resources at its own origin.
export function watch(page, origin) {
  const problems = [];
  page.on('pageerror', (error) => problems.push('script error: ' + error.message));
  page.on('console', (message) => {
    if (['error', 'warn', 'warning'].includes(message.type())) {
      problems.push('console ' + message.type() + ': ' + message.text() + ' (' + message.location().url + ')');
    }
  });
  page.on('request', (request) => {
    const url = new URL(request.url());
    if (url.origin !== origin || !kOwnPaths.some((own) => own.test(url.pathname))) {
      problems.push('request the page did not make itself: ' + request.url());
    }
  });
  return problems;
}

export async function getJson(url) {
  const response = await fetch(url);
  check(response.ok, url + ': ' + response.status);
  return response.json();
}

// A trace's calls depth first as the tree shows them: depth, call, offset, duration, CPU time.
export function expectedRows(trace) {
  const rows = [];
  const open = [{node: trace, depth: 0}];
  while (open.length) {
    const {node, depth} = open.pop();
    const cpu = (node.params || []).find((p) => p.name === 'CPU Time (us)');
    rows.push([depth, node.resource, depth === 0 ? '0' : String(node.offset), String(node.duration), cpu ? cpu.value : '']);
    for (let i = (node.calls || []).length - 1; i >= 0; --i) open.push({node: node.calls[i], depth: depth + 1});
  }
  return rows;
}

export function shownRows(page) {
  return page.$$eval('#trace table.tree tbody tr', (rows) => rows.map((row) => [Number(row.dataset.depth),
    ...Array.from(row.cells).slice(0, 4).map((cell) => cell.textContent)]));
}
