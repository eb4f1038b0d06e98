// The live page in headless chromium while the demo sends to the collector:
// the tables show the demo's requests, the slowest trace opens as the same
// tree as its JSON, its link opens it again, and nothing goes wrong.
import path from 'node:path';

import {check, expectedRows, getJson, launchBrowser, run, runDemo, shownRows, startCollector, waitFor, watch,
  workDir} from './page_support.mjs';

run('page_browser_test', async () => {
  const collector = await startCollector();
  const report = await runDemo(collector, 3);
  const ran = report.match(/ran (\d+) requests/);
  check(ran, 'no request count in the demo report: ' + report);
  const requests = ran[1];

  const browser = await launchBrowser();
  const page = await browser.newPage();
  const problems = watch(page, new URL(collector.url).origin);
  await page.goto(collector.url);

  // The busiest table, refreshed by the script, shows every finished request.
  const finished = () => page.$$eval('#busiest tbody tr', (rows) => rows.map((row) =>
    [row.cells[1].textContent, row.cells[2].textContent]).find(([key]) => key === 'OrderService|placeOrder'));
  await waitFor('OrderService|placeOrder finished ' + requests + ' times in the busiest table', async () => {
    const row = await finished();
    return row && row[1] === requests && page.$eval('body', (body) => body.dataset.refreshed !== undefined);
  });
  const tablesEnd = await page.$eval('#tables', (tables) => tables.getBoundingClientRect().bottom + window.scrollY);
  await page.screenshot({path: path.join(workDir, 'tables.png'), clip: {x: 0, y: 0, width: 1400, height: tablesEnd + 8}});

  // The slowest trace, opened from the list, is its JSON's tree.
  const {traces} = await getJson(collector.url + 'api/traces?limit=1000');
  check(traces.length > 0, 'no traces');
  const slowest = traces.reduce((a, b) => (b.duration > a.duration ? b : a));
  await page.click(`#traces tbody tr[data-id="${slowest.id}"] a`);
  await page.waitForSelector(`#trace[data-trace="${slowest.id}"][data-ready="true"]`, {timeout: 10000});
  const trace = await getJson(collector.url + 'api/traces/' + slowest.id);
  const expected = JSON.stringify(expectedRows(trace));
  const shown = JSON.stringify(await shownRows(page));
  check(shown === expected, 'the tree differs from the JSON:\n  shown    ' + shown + '\n  expected ' + expected);
  const critical = await page.$$eval('#trace tr.critical', (rows) => rows.map((row) => Number(row.dataset.depth)));
  check(critical.length >= 2 && critical.every((depth, i) => depth === i), 'critical path rows: ' + critical);
  const bars = await page.$$eval('#trace .bar', (found) => found.length);
  check(bars === expectedRows(trace).length, 'timeline bars: ' + bars);
  check(page.url().endsWith('?trace=' + slowest.id), 'the URL does not name the trace: ' + page.url());
  const treeBox = await page.$('#trace');
  await treeBox.screenshot({path: path.join(workDir, 'trace.png')});

  // Its link, opened afresh, shows the same tree; sorting keeps its state in the URL too.
  const shared = await browser.newPage();
  const sharedProblems = watch(shared, new URL(collector.url).origin);
  await shared.goto(page.url());
  await shared.waitForSelector(`#trace[data-trace="${slowest.id}"][data-ready="true"]`, {timeout: 10000});
  check(JSON.stringify(await shownRows(shared)) === expected, 'the shared link shows another tree');
  await shared.click('#busiest th[data-field="key"]');
  check(shared.url().includes('sort=busiest.key.desc'), 'sorting is not in the URL: ' + shared.url());
  const keys = await shared.$$eval('#busiest tbody tr', (rows) => rows.map((row) => row.cells[1].textContent));
  check(JSON.stringify(keys) === JSON.stringify([...keys].sort((a, b) => b.localeCompare(a))), 'not sorted by key: ' + keys);

  const all = problems.concat(sharedProblems);
  check(all.length === 0, 'the page reported:\n  ' + all.join('\n  '));
  await collector.stop();
});
