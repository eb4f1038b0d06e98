// Hostile names on the live page: component, method, parameter, passport and
// process texts holding markup, a closing script tag, quotes and control
// characters reach the collector from a peer; the page, with and without its
// script, shows them as the very texts, runs none of them, and makes no
// request of its own beyond its resources.
import net from 'node:net';

import {check, launchBrowser, run, startCollector, waitFor, watch} from './page_support.mjs';

// No '|', ':' or '_', which split the names of metric lines.
const kHostile = '<img src=x onerror="document.body.dataset.pwned=1">\'</script><b>bold</b>\t\n\r';

function xmlAttribute(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;')
      .replace(/'/g, '&apos;').replace(/\t/g, '&#9;').replace(/\n/g, '&#10;').replace(/\r/g, '&#13;');
}

const process = 'evil' + kHostile;
const component = 'Comp' + kHostile;
const method = 'meth' + kHostile;
const key = component + '|' + method;

function stream() {
  const a = xmlAttribute;
  const name = (label) => a('VEL_MOX|' + process + '_1|' + key + ':' + label);
  return [
    `<metric type="StringEvent" name="${a('VEL_MOX|' + process + '_1')}:MOX library version" value="2.3.6" />`,
    `<metric type="IntAverage" name="${name('Finished Counter')}" value="3" />`,
    `<metric type="IntAverage" name="${name('Avg. Elapsed Time(ms)')}" value="9" max="12" min="1" count="3" />`,
    `<metric type="LongCounter" name="${a('VEL_MOX|' + process + '_1|Pool' + kHostile)}:Current Value" value="2" ` +
        'max="3" min="1" count="1" />',
    `<event resource="${a(key)}" startTime="${a(kHostile)}" duration="9">` +
        `<calledComponent resource="${a('Inner' + kHostile + '|call' + kHostile)}" offset="1" duration="5">` +
        `<param name="CPU Time (us)" value="5" /><param name="${a('name' + kHostile)}" value="${a('value' + kHostile)}" />` +
        '</calledComponent><param name="CPU Time (us)" value="7" />' +
        `<param name="client.header.VEL-PASSPORT" value="${a('passport' + kHostile)}" /></event>`,
  ].join('\n') + '\n';
}

async function send(port, text) {
  await new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => socket.end(text));
    socket.on('close', resolve);
    socket.on('error', reject);
  });
}

// The texts the page shows where the hostile names go.
async function shownTexts(page) {
  return page.evaluate(() => {
    const cells = (selector) => Array.from(document.querySelectorAll(selector), (cell) => cell.textContent);
    const tree = document.querySelectorAll('#trace table.tree tbody tr');
    return {
      busiest: cells('#busiest tbody td').slice(0, 2),
      resource: cells('#resources tbody td').slice(0, 2),
      trace: cells('#traces tbody td').slice(1, 6),
      calls: cells('#trace table.tree td.call'),
      hover: tree.length > 1 ? tree[1].title : '',
      options: Array.from(document.querySelectorAll('#process option'), (o) => o.textContent).slice(1),
      heading: (document.querySelector('#trace h2') || {}).textContent,
      markup: document.querySelectorAll('main img, main b, main script, header img').length,
      pwned: document.body.dataset.pwned,
    };
  });
}

run('page_injection_test', async () => {
  const collector = await startCollector();
  await send(collector.port, stream());
  await waitFor('the hostile trace', async () => {
    const response = await fetch(collector.url + 'api/traces');
    return response.ok && (await response.json()).traces.length === 1;
  });

  const label = process + '_1';
  const expected = {
    busiest: [label, key],
    resource: [label, 'Pool' + kHostile],
    trace: [label, key, kHostile, '9', 'passport' + kHostile],
    calls: [key, 'Inner' + kHostile + '|call' + kHostile],
    hover: 'CPU Time (us) = 5\nname' + kHostile + ' = value' + kHostile,
    options: [label],
    heading: 'Trace 1: ' + key,
    markup: 0,
  };
  const browser = await launchBrowser();
  const origin = new URL(collector.url).origin;
  for (const scripts of [true, false]) {
    const page = await browser.newPage();
    await page.setJavaScriptEnabled(scripts);
    const problems = watch(page, origin);
    await page.goto(collector.url + '?trace=1');
    if (scripts) {
      await page.waitForSelector('body[data-refreshed]', {timeout: 10000});
      await page.waitForSelector('#trace[data-ready="true"]', {timeout: 10000});
    }
    const shown = await shownTexts(page);
    const which = scripts ? 'with scripts' : 'without scripts';
    check(JSON.stringify(shown) === JSON.stringify(expected),
        which + ':\n  shown    ' + JSON.stringify(shown) + '\n  expected ' + JSON.stringify(expected));
    check(problems.length === 0, which + ', the page reported:\n  ' + problems.join('\n  '));
    await page.close();
  }
  await collector.stop();
});
