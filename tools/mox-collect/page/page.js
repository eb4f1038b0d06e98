// The live page's script: refreshes the tables and the trace list, sorts
// and filters them, and opens a trace as nested rows with a timeline. It
// takes over the markup the server sent (the columns come from each
// heading's data-field) and keeps its state in the URL. Texts from the
// collector are only ever set as textContent, never parsed as markup.
'use strict';

(function () {
  const REFRESH_MS = 3000;
  const ROWS = 25;
  const TRACES = 200;
  const TABLES = ['slowest_by_average', 'slowest_by_maximum', 'busiest', 'resources'];
  const MAX_INDENT = 16;

  let state = readState();
  const last = {};  // the latest rows of each table, for sorting without a request

  function readState() {
    const query = new URLSearchParams(window.location.search);
    return {
      process: query.get('process') || '',
      trace: Number(query.get('trace')) || 0,
      sort: query.get('sort') || '',
    };
  }

  function urlOf(s) {
    const query = new URLSearchParams();
    if (s.process) query.set('process', s.process);
    if (s.trace) query.set('trace', String(s.trace));
    if (s.sort) query.set('sort', s.sort);
    const text = query.toString();
    return '/' + (text ? '?' + text : '');
  }

  function saveState(asNewEntry) {
    if (asNewEntry) {
      window.history.pushState(null, '', urlOf(state));
    } else {
      window.history.replaceState(null, '', urlOf(state));
    }
  }

  function element(tag, text, className) {
    const made = document.createElement(tag);
    if (text !== undefined && text !== null) made.textContent = String(text);
    if (className) made.className = className;
    return made;
  }

  function setStatus(text) {
    document.getElementById('status').textContent = text;
  }

  async function getJson(path) {
    const response = await fetch(path, {cache: 'no-store', credentials: 'same-origin'});
    if (!response.ok) {
      const error = new Error(path + ': ' + response.status);
      error.status = response.status;
      throw error;
    }
    return response.json();
  }

  // --- tables -------------------------------------------------------------

  function fieldsOf(section) {
    return Array.from(section.querySelectorAll('thead th')).map((th) => th.dataset.field);
  }

  function compare(a, b) {
    const absent = (v) => v === null || v === undefined;
    if (absent(a) || absent(b)) return absent(a) - absent(b);
    if (typeof a === 'number' && typeof b === 'number') return a - b;
    return String(a).localeCompare(String(b));
  }

  function sortedRows(id, rows) {
    const [table, field, direction] = state.sort.split('.');
    if (table !== id || !field) return rows;
    const sign = direction === 'asc' ? 1 : -1;
    return rows.slice().sort((a, b) => sign * compare(a[field], b[field]));
  }

  function plainCell(value) {
    const absent = value === null || value === undefined;
    return element('td', absent ? '–' : value, typeof value === 'number' || absent ? 'number' : '');
  }

  function traceCell(row, field) {
    if (field !== 'id') return plainCell(row[field]);
    const cell = element('td');
    const link = element('a', row.id);
    link.href = urlOf(Object.assign({}, state, {trace: row.id}));
    link.addEventListener('click', (event) => {
      event.preventDefault();
      state.trace = row.id;
      saveState(true);
      openTrace();
    });
    cell.appendChild(link);
    return cell;
  }

  function fillTable(id, rows) {
    last[id] = rows;
    const section = document.getElementById(id);
    const fields = fieldsOf(section);
    const body = document.createElement('tbody');
    for (const row of sortedRows(id, rows)) {
      const line = element('tr');
      if (id === 'traces') {
        line.dataset.id = String(row.id);
        if (row.id === state.trace) line.className = 'chosen';
      }
      for (const field of fields) line.appendChild(id === 'traces' ? traceCell(row, field) : plainCell(row[field]));
      body.appendChild(line);
    }
    section.querySelector('tbody').replaceWith(body);
    markSorted(section, id);
  }

  function markSorted(section, id) {
    const [table, field, direction] = state.sort.split('.');
    for (const th of section.querySelectorAll('thead th')) {
      const sorted = table === id && th.dataset.field === field;
      th.classList.toggle('sorted-asc', sorted && direction === 'asc');
      th.classList.toggle('sorted-desc', sorted && direction === 'desc');
    }
  }

  function makeSortable(id) {
    const section = document.getElementById(id);
    for (const th of section.querySelectorAll('thead th')) {
      th.tabIndex = 0;
      th.title = 'sort by this column';
      const sort = () => {
        const [table, field, direction] = state.sort.split('.');
        const again = table === id && field === th.dataset.field;
        state.sort = [id, th.dataset.field, again && direction === 'desc' ? 'asc' : 'desc'].join('.');
        saveState(false);
        if (last[id]) fillTable(id, last[id]);
      };
      th.addEventListener('click', sort);
      th.addEventListener('keydown', (event) => {
        if (event.key === 'Enter') sort();
      });
    }
  }

  function fillProcesses(processes) {
    const select = document.getElementById('process');
    const wanted = [''].concat(processes);
    const present = Array.from(select.options).map((option) => option.value);
    if (wanted.join('\n') !== present.join('\n')) {
      select.replaceChildren(element('option', 'all processes'));
      select.options[0].value = '';
      for (const process of processes) {
        const option = element('option', process);
        option.value = process;
        select.appendChild(option);
      }
    }
    select.value = state.process;
  }

  async function refresh() {
    const process = state.process ? '&process=' + encodeURIComponent(state.process) : '';
    try {
      const [tables, traces] = await Promise.all([
        getJson('/api/tables?rows=' + ROWS + process),
        getJson('/api/traces?limit=' + TRACES + process),
      ]);
      const totals = tables.totals;
      document.getElementById('totals').textContent = totals.metric_lines + ' metric lines, ' + totals.traces +
          ' traces, ' + totals.timing_keys + ' timing keys, ' + totals.resources + ' resources';
      fillProcesses(tables.processes);
      for (const id of TABLES) fillTable(id, tables[id]);
      fillTable('traces', traces.traces);
      document.body.dataset.refreshed = String(Date.now());
      setStatus('updated ' + new Date().toLocaleTimeString());
    } catch (error) {
      setStatus('cannot reach the collector (' + error.message + ')');
    }
  }

  // --- one trace ------------------------------------------------------------

  function cpuOf(node) {
    const param = (node.params || []).find((p) => p.name === 'CPU Time (us)');
    return param ? param.value : '';
  }

  function paramLines(node) {
    return (node.params || []).map((p) => p.name + ' = ' + p.value).join('\n');
  }

  // The calls depth first, each with its depth and its start from the root's, without recursion.
  function flatten(root) {
    const rows = [];
    const open = [{node: root, depth: 0, start: 0}];
    while (open.length) {
      const item = open.pop();
      rows.push(item);
      const calls = item.node.calls || [];
      for (let i = calls.length - 1; i >= 0; --i) {
        open.push({node: calls[i], depth: item.depth + 1, start: item.start + (Number(calls[i].offset) || 0)});
      }
    }
    return rows;
  }

  // From the root down, the call that ends last among each call's children: what the unit of work waited for.
  function criticalPath(root) {
    const path = new Set([root]);
    for (let node = root; node.calls && node.calls.length;) {
      let latest = node.calls[0];
      for (const call of node.calls) {
        const end = (Number(call.offset) || 0) + (Number(call.duration) || 0);
        if (end > (Number(latest.offset) || 0) + (Number(latest.duration) || 0)) latest = call;
      }
      path.add(latest);
      node = latest;
    }
    return path;
  }

  function timelineCell(item, total) {
    const cell = element('td', null, 'timeline');
    const track = element('div', null, 'track');
    const bar = element('div', null, 'bar');
    const duration = Number(item.node.duration) || 0;
    bar.style.left = (100 * item.start / total) + '%';
    bar.style.width = Math.max(100 * duration / total, 0.3) + '%';
    bar.title = item.node.resource + ': ' + duration + ' ms from +' + item.start + ' ms, CPU ' + cpuOf(item.node) +
        ' µs' + (item.node.params && item.node.params.length ? '\n' + paramLines(item.node) : '');
    track.appendChild(bar);
    cell.appendChild(track);
    return cell;
  }

  function traceSection() {
    let section = document.getElementById('trace');
    if (!section) {
      section = element('section');
      section.id = 'trace';
      document.getElementById('traces').before(section);
    }
    section.dataset.trace = String(state.trace);
    return section;
  }

  function drawTree(trace) {
    const section = traceSection();
    const rows = flatten(trace);
    const critical = criticalPath(trace);
    // Not Math.max(...rows): a trace may have more calls than a call takes arguments.
    const total = rows.reduce((most, r) => Math.max(most, r.start + (Number(r.node.duration) || 0)), 1);
    const heading = element('h2', 'Trace ' + trace.id + ': ' + trace.resource);
    const note = element('p', 'offsets from the parent call\'s start; the critical path is marked; ' +
        'hover a bar for its CPU time and parameters', 'note');
    const table = element('table', null, 'tree');
    const head = element('thead');
    const titles = element('tr');
    for (const title of ['Call', 'Offset ms', 'Duration ms', 'CPU µs', 'Timeline']) {
      const th = element('th', title);
      th.scope = 'col';
      titles.appendChild(th);
    }
    head.appendChild(titles);
    const body = element('tbody');
    for (const item of rows) {
      const line = element('tr', null, critical.has(item.node) ? 'critical' : '');
      line.dataset.depth = String(item.depth);
      line.title = paramLines(item.node);
      line.appendChild(element('td', item.node.resource, 'call depth-' + Math.min(item.depth, MAX_INDENT)));
      line.appendChild(plainCell(item.depth === 0 ? 0 : item.node.offset));
      line.appendChild(plainCell(item.node.duration));
      line.appendChild(element('td', cpuOf(item.node), 'number'));
      line.appendChild(timelineCell(item, total));
      body.appendChild(line);
    }
    table.append(head, body);
    const close = element('a', 'close', 'close');
    close.href = urlOf(Object.assign({}, state, {trace: 0}));
    close.addEventListener('click', (event) => {
      event.preventDefault();
      state.trace = 0;
      saveState(true);
      openTrace();
    });
    section.replaceChildren(heading, close, note, table);
    section.dataset.ready = 'true';
  }

  async function openTrace() {
    for (const line of document.querySelectorAll('#traces tbody tr')) {
      line.className = Number(line.dataset.id) === state.trace ? 'chosen' : '';
    }
    if (!state.trace) {
      const section = document.getElementById('trace');
      if (section) section.remove();
      return;
    }
    const wanted = state.trace;
    try {
      const trace = await getJson('/api/traces/' + wanted);
      if (state.trace === wanted) drawTree(trace);
    } catch (error) {
      if (state.trace !== wanted) return;
      const section = traceSection();
      const text = error.status === 404 ? 'It is no longer kept.' : 'Cannot load it (' + error.message + ').';
      section.replaceChildren(element('h2', 'Trace ' + wanted), element('p', text));
      section.dataset.ready = 'true';
    }
  }

  // --- start ------------------------------------------------------------------

  function start() {
    for (const id of TABLES.concat(['traces'])) makeSortable(id);
    const select = document.getElementById('process');
    select.addEventListener('change', () => {
      state.process = select.value;
      saveState(true);
      refresh();
    });
    document.querySelector('#filter button').hidden = true;
    window.addEventListener('popstate', () => {
      state = readState();
      refresh();
      openTrace();
    });
    refresh();
    openTrace();
    window.setInterval(refresh, REFRESH_MS);
  }

  start();
})();
