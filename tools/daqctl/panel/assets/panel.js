// The panel's page: the boards daqctl found, their controls, and the live
// chart of a background acquisition. Everything comes from daqctl's event
// stream (api/events: hello, state, samples) and every control is a small
// JSON POST carrying the token; daqctl validates each one as its command
// line would and answers errors with the command line's messages.
(() => {
  'use strict';

  const token = new URLSearchParams(location.search).get('token') || '';
  const WINDOWS = [1, 2, 5, 10, 30];

  // What tests and the benchmark read: frames and columns received, gaps in
  // the column numbers (frames dropped for a slow page), columns out of
  // order (never expected), chart draws and draws per second.
  const stats = {
    events: 0, frames: 0, columns: 0, gaps: 0, gapColumns: 0, outOfOrder: 0,
    draws: 0, fps: 0, dropped: 0, acquisition: 0, firstColumn: null, lastColumn: null,
  };
  window.panelStats = stats;

  let hello = null;
  let state = null;
  let source = null;
  const ui = { relays: [], mf: null };

  // ---- Small helpers ---------------------------------------------------------

  // An element with attributes and children (texts are text nodes: nothing
  // daqctl or a board says is ever parsed as markup).
  function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attrs || {})) {
      if (key === 'class') node.className = value;
      else if (key === 'text') node.textContent = value;
      else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
      else node.setAttribute(key, value);
    }
    for (const child of children) {
      if (child !== null && child !== undefined) node.append(child);
    }
    return node;
  }

  const hex = (value, digits) => '0x' + value.toString(16).toUpperCase().padStart(digits, '0');

  function hertz(hz) {
    if (hz >= 1e6) return `${+(hz / 1e6).toPrecision(6)} MHz`;
    if (hz >= 1e3) return `${+(hz / 1e3).toPrecision(6)} kHz`;
    return `${+hz.toPrecision(6)} Hz`;
  }

  function showError(message) {
    const log = document.getElementById('errors');
    const line = el('p', { class: 'error', text: message });
    log.prepend(line);
    while (log.children.length > 5) log.lastChild.remove();
  }

  async function post(path, body) {
    let response;
    try {
      response = await fetch(path, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', 'X-Panel-Token': token },
        body: JSON.stringify(body || {}),
        cache: 'no-store',
      });
    } catch (e) {
      showError(`daqctl does not answer (${e.message})`);
      return null;
    }
    let reply = {};
    try { reply = await response.json(); } catch (e) { reply = {}; }
    if (!response.ok) {
      showError(reply.error || `${path}: ${response.status}`);
      return null;
    }
    return reply;
  }

  // ---- The event stream --------------------------------------------------------

  function connect() {
    if (source) source.close();
    const chartBox = document.getElementById('chart');
    // The chart's width in pixels: one column each (before the chart is
    // built, the window's width less the margins).
    const width = chartBox ? chartBox.clientWidth : window.innerWidth - 60;
    const columns = Math.max(100, Math.min(4000, Math.round(width)));
    const seconds = chart.seconds;
    source = new EventSource(`api/events?token=${encodeURIComponent(token)}&columns=${columns}&seconds=${seconds}`);
    const connection = document.getElementById('connection');
    source.addEventListener('open', () => { connection.textContent = 'live'; connection.className = 'connection live'; });
    source.addEventListener('error', () => {
      connection.textContent = 'connection lost: reconnecting';
      connection.className = 'connection lost';
    });
    source.addEventListener('hello', (e) => {
      stats.events++;
      const first = hello === null;
      hello = JSON.parse(e.data);
      if (first) build();
      applyState(hello.state);
    });
    source.addEventListener('state', (e) => { stats.events++; applyState(JSON.parse(e.data)); });
    source.addEventListener('samples', (e) => { stats.events++; onFrame(JSON.parse(e.data)); });
  }

  // ---- Building the page from the hello --------------------------------------------

  function build() {
    const v = hello.versions;
    document.getElementById('versions').textContent =
      `${hello.tool}: Korvel ${v.korvel}, Dremor ${v.dremor}, interrupt driver ${v.interrupt_driver || 'none'}`;
    buildRelayBoards();
    buildMultifunction();
  }

  function buildRelayBoards() {
    const box = document.getElementById('relay-boards');
    box.replaceChildren();
    ui.relays = [];
    const relay = hello.relay;
    if (relay.error) box.append(el('p', { class: 'error', text: relay.error }));
    if (!relay.error && relay.boards.length === 0) box.append(el('p', { class: 'note', text: 'none found' }));
    for (const board of relay.boards) {
      const n = board.board;
      const toggles = [];
      const lamps = [];
      for (let i = 0; i < board.relays; i++) {
        toggles.push(el('button', {
          class: 'toggle', id: `relay-${n}-${i}`, 'aria-pressed': 'false', title: `relay ${i}`, text: String(i),
          onclick: () => {
            const on = toggles[i].getAttribute('aria-pressed') !== 'true';
            post('api/relay', { board: n, relay: i, on }).then((r) => { if (r) setRelay(n, r.outputs, r.inputs); });
          },
        }));
        lamps.push(el('span', { class: 'lamp', id: `input-${n}-${i}`, title: `input ${i}`, text: String(i) }));
      }
      const pattern = el('input', { type: 'text', size: '8', placeholder: board.relays === 16 ? '0x00FF' : '0x0F',
                                    'aria-label': `pattern for relay board ${n}` });
      const outputs = el('span', { class: 'value' });
      const inputs = el('span', { class: 'value' });
      const card = el('div', { class: 'card', id: `relay-board-${n}` },
        el('h3', { text: `board ${n}: ${board.model}, slot ${board.slot}, ${board.relays} relays` }),
        board.error ? el('p', { class: 'error', text: board.error }) : null,
        el('div', { class: 'row' }, el('span', { class: 'label', text: 'relays' }), ...toggles),
        el('div', { class: 'row' }, el('span', { class: 'label', text: 'inputs' }), ...lamps),
        el('div', { class: 'row' },
          el('span', { class: 'label', text: 'pattern' }), pattern,
          el('button', {
            text: 'write',
            onclick: () => post('api/relay', { board: n, set: pattern.value.trim() })
              .then((r) => { if (r) setRelay(n, r.outputs, r.inputs); }),
          }),
          el('span', { class: 'label', text: 'outputs' }), outputs,
          el('span', { class: 'label', text: 'inputs' }), inputs));
      box.append(card);
      ui.relays.push({ board, toggles, lamps, outputs, inputs });
    }
  }

  function setRelay(n, outputs, inputs) {
    const r = ui.relays[n];
    if (!r) return;
    const digits = r.board.relays / 4;
    r.toggles.forEach((t, i) => t.setAttribute('aria-pressed', String(Boolean(outputs & (1 << i)))));
    r.lamps.forEach((l, i) => l.classList.toggle('lit', Boolean(inputs & (1 << i))));
    r.outputs.textContent = hex(outputs, digits);
    r.inputs.textContent = hex(inputs, digits);
  }

  function rangeOptions() {
    return hello.multifunction.ranges.map((r) => el('option', { value: String(r.code), text: `${r.code}: \u00b1${r.volts} V` }));
  }

  function channelOptions() {
    const options = [];
    for (let c = 0; c < hello.multifunction.channels; c++) options.push(el('option', { value: String(c), text: String(c) }));
    return options;
  }

  function buildMultifunction() {
    const box = document.getElementById('multifunction');
    box.replaceChildren();
    ui.mf = null;
    const mf = hello.multifunction;
    if (mf.error) box.append(el('p', { class: 'error', text: mf.error }));
    if (!mf.error && mf.boards.length === 0) box.append(el('p', { class: 'note', text: 'none found' }));
    if (mf.boards.length === 0) return;

    const selectors = mf.boards.map((b) => el('button', {
      class: 'select', id: `select-${b.board}`, 'aria-pressed': 'false',
      text: `board ${b.board}: VARNO, slot ${b.slot}${b.clock_hz ? `, counters at ${hertz(b.clock_hz)}` : ''}`,
      onclick: () => post('api/select', { board: b.board }),
    }));
    const note = el('p', { class: 'note' });

    // Digital I/O.
    const douts = [];
    const dins = [];
    for (let i = 0; i < 16; i++) {
      douts.push(el('button', {
        class: 'toggle', id: `dout-${i}`, 'aria-pressed': 'false', title: `output ${i}`, text: String(i),
        onclick: () => post('api/digital', { board: active(), output: i, on: douts[i].getAttribute('aria-pressed') !== 'true' }),
      }));
      dins.push(el('span', { class: 'lamp', id: `din-${i}`, title: `input ${i}`, text: String(i) }));
    }
    const doutNote = el('span', { class: 'note' });

    // Counters.
    const counters = [];
    for (let c = 0; c < mf.counters; c++) {
      const divisor = el('input', { type: 'text', size: '7', id: `counter-${c}-divisor`, placeholder: 'divisor' });
      const use = el('span', { class: 'note', id: `counter-${c}-use` });
      const row = el('div', { class: 'row' },
        el('span', { class: 'label', text: `counter ${c}` }), divisor,
        el('button', {
          text: 'set', id: `counter-${c}-set`,
          onclick: () => post('api/timer', { board: active(), counter: c, divisor: divisor.value.trim() })
            .then((r) => { if (r) use.textContent = counterText(c, { divisor: r.divisor, use: 'panel' }, r.rate_hz); }),
        }), use);
      counters.push({ row, divisor, use });
    }

    // Single readings.
    const readChannel = el('select', { id: 'reading-channel', 'aria-label': 'channel' }, ...channelOptions());
    const readRange = el('select', { id: 'reading-range', 'aria-label': 'range' }, ...rangeOptions());
    const reading = el('span', { class: 'value', id: 'reading' });
    const readButton = el('button', {
      text: 'read', id: 'reading-read',
      onclick: () => post('api/reading', { board: active(), channel: +readChannel.value, range: +readRange.value })
        .then((r) => {
          if (!r) return;
          reading.textContent = `channel ${r.channel}, \u00b1${r.range_volts} V: ${r.volts.toFixed(6)} V (code ${r.code})` +
            (r.over_range ? ', over range' : '');
          reading.classList.toggle('over', r.over_range);
        }),
    });

    // Background acquisition.
    const acqChannel = el('select', { id: 'acq-channel', 'aria-label': 'channel' }, ...channelOptions());
    const acqRange = el('select', { id: 'acq-range', 'aria-label': 'range' }, ...rangeOptions());
    const acqDivisor = el('input', { type: 'text', size: '7', id: 'acq-divisor', value: '400' });
    const acqRate = el('span', { class: 'note', id: 'acq-rate' });
    const windowSelect = el('select', { id: 'acq-window', 'aria-label': 'seconds shown' },
      ...WINDOWS.map((s) => el('option', { value: String(s), text: `${s} s`, ...(s === chart.seconds ? { selected: '' } : {}) })));
    const record = el('input', { type: 'checkbox', id: 'acq-record' });
    const recordFile = el('input', { type: 'text', size: '24', id: 'acq-file', placeholder: 'file name (.csv), or automatic' });
    const start = el('button', {
      text: 'start', id: 'acq-start',
      onclick: () => post('api/acquisition/start', {
        board: active(), channel: +acqChannel.value, range: +acqRange.value, divisor: acqDivisor.value.trim(),
        record: record.checked, ...(recordFile.value.trim() ? { file: recordFile.value.trim() } : {}),
      }),
    });
    const stop = el('button', { text: 'stop', id: 'acq-stop', onclick: () => post('api/acquisition/stop', {}) });
    const recordNow = el('button', {
      text: 'record', id: 'rec-start',
      onclick: () => post('api/recording/start', recordFile.value.trim() ? { file: recordFile.value.trim() } : {}),
    });
    const recordStop = el('button', { text: 'stop recording', id: 'rec-stop', onclick: () => post('api/recording/stop', {}) });
    const acqStatus = el('p', { class: 'value', id: 'acq-status' });
    const recStatus = el('p', { class: 'value', id: 'rec-status' });
    const chartBox = el('div', { id: 'chart', class: 'chart' });
    const chartNote = el('p', { class: 'note', id: 'chart-note' });

    const updateRate = () => {
      const b = mf.boards[active() ?? 0];
      const d = Number(acqDivisor.value.trim());
      if (b && b.clock_hz && d > 0) {
        acqRate.textContent = `= ${hertz(b.clock_hz / d)}` +
          (b.smallest_divisor ? ` (smallest divisor ${b.smallest_divisor}: ${hertz(b.clock_hz / b.smallest_divisor)})` : '');
      } else {
        acqRate.textContent = b && b.clock_hz ? '' : 'rate unknown: the counter clock is not known (--clock)';
      }
    };
    acqDivisor.addEventListener('input', updateRate);
    windowSelect.addEventListener('change', () => { chart.seconds = +windowSelect.value; resetChart(); connect(); });

    box.append(
      el('div', { class: 'row' }, el('span', { class: 'label', text: 'selected' }), ...selectors),
      el('p', { class: 'note', text: 'Selecting a board resets it (counters parked).' }),
      note,
      el('div', { class: 'card', id: 'mf-board' },
        el('h3', { text: 'digital I/O' }),
        el('div', { class: 'row' }, el('span', { class: 'label', text: 'outputs' }), ...douts),
        el('div', { class: 'row' }, el('span', { class: 'label', text: 'inputs' }), ...dins),
        doutNote,
        el('h3', { text: 'counters (8254)' }),
        ...counters.map((c) => c.row),
        el('h3', { text: 'single reading' }),
        el('div', { class: 'row' },
          el('span', { class: 'label', text: 'channel' }), readChannel,
          el('span', { class: 'label', text: 'range' }), readRange, readButton, reading),
        el('h3', { text: 'background acquisition' }),
        el('div', { class: 'row' },
          el('span', { class: 'label', text: 'channel' }), acqChannel,
          el('span', { class: 'label', text: 'range' }), acqRange,
          el('span', { class: 'label', text: 'divisor' }), acqDivisor, acqRate),
        el('div', { class: 'row' },
          el('span', { class: 'label', text: 'show' }), windowSelect,
          el('label', {}, record, ' record to file'), recordFile, start, stop, recordNow, recordStop),
        acqStatus, recStatus, chartBox, chartNote));
    ui.mf = { selectors, note, douts, dins, doutNote, counters, acqStatus, recStatus, chartNote, updateRate, start, stop,
              recordNow, recordStop };
    updateRate();
    makeChart();
  }

  const active = () => (state && state.multifunction ? state.multifunction.active : null);

  function counterText(c, counter, rateHz) {
    const uses = {
      parked: 'parked', panel: 'set by the panel', pacer: 'paces the acquisition', settling: 'times the settling of readings',
    };
    let text = uses[counter.use] || counter.use || '';
    if (counter.divisor !== null && counter.divisor !== undefined) text += `, divisor ${counter.divisor}`;
    if (rateHz) text += ` (${hertz(rateHz)})`;
    if (c === 0) text += '; counter 0 is the A/D pacer';
    if (c === 2) text += '; readings reprogram counter 2';
    return text;
  }

  // ---- State ---------------------------------------------------------------------

  function applyState(s) {
    state = s;
    s.relay.forEach((r, n) => setRelay(n, r.outputs, r.inputs));
    if (!ui.mf) return;
    const m = s.multifunction;
    ui.mf.selectors.forEach((b, n) => b.setAttribute('aria-pressed', String(m.active === n)));
    ui.mf.note.textContent = m.note || '';
    ui.mf.note.className = m.note ? 'error' : 'note';
    const outputs = m.digital_outputs;
    ui.mf.douts.forEach((t, i) => t.setAttribute('aria-pressed', String(outputs !== null && Boolean(outputs & (1 << i)))));
    ui.mf.dins.forEach((l, i) => l.classList.toggle('lit', m.digital_inputs !== null && Boolean(m.digital_inputs & (1 << i))));
    ui.mf.doutNote.textContent = outputs === null
      ? 'The outputs have not been written since the board was selected (the board cannot read them back): a toggle writes all 16, the others off.'
      : `outputs ${hex(outputs, 4)}, inputs ${m.digital_inputs === null ? '?' : hex(m.digital_inputs, 4)}`;
    const clock = m.active !== null ? hello.multifunction.boards[m.active].clock_hz : null;
    m.counters.forEach((c, i) => {
      const rate = clock && c.divisor ? clock / c.divisor : null;
      ui.mf.counters[i].use.textContent = counterText(i, c, c.use === 'parked' ? null : rate);
    });
    ui.mf.updateRate();
    const a = s.acquisition;
    if (a) {
      const rate = a.rate_hz ? hertz(a.rate_hz) : `divisor ${a.divisor}`;
      let text = `${a.running ? 'acquiring' : 'stopped'}: board ${a.board}, channel ${a.channel}, \u00b1${a.range_volts} V, ${rate}; ` +
        `${a.samples} samples, backlog ${a.backlog}, over range ${a.over_range}, display frames dropped ${stats.dropped}`;
      if (a.error) text += ` - ${a.error}`;
      ui.mf.acqStatus.textContent = text;
      ui.mf.acqStatus.classList.toggle('error', Boolean(a.error));
      if (a.error && a.id !== lastAcquisitionError) { lastAcquisitionError = a.id; showError(a.error); }
      chart.state = a;
    } else {
      ui.mf.acqStatus.textContent = 'no acquisition yet';
    }
    const r = s.recording;
    if (r) {
      ui.mf.recStatus.textContent = r.active ? `recording to ${r.file}: ${r.samples} samples`
        : `recorded ${r.samples} samples to ${r.file}${r.ended ? ` (${r.ended})` : ''}`;
      ui.mf.recStatus.classList.toggle('error', Boolean(r.error));
    } else {
      ui.mf.recStatus.textContent = `not recording (files go to ${hello.record_folder})`;
    }
    const running = Boolean(a && a.running);
    ui.mf.start.disabled = running;
    ui.mf.stop.disabled = !running;
    ui.mf.recordNow.disabled = !running || Boolean(r && r.active);
    ui.mf.recordStop.disabled = !(r && r.active);
  }
  let lastAcquisitionError = 0;

  // ---- The chart -------------------------------------------------------------------
  // Columns of min/max codes as daqctl decimated them for this page's width,
  // kept for the seconds shown (a bounded ring), drawn at most once a frame.

  const chart = {
    plot: null, seconds: 5, acquisition: 0, spc: 1, state: null, expected: null,
    capacity: 0, size: 0, head: 0, column: null, min: null, max: null, pending: false,
  };

  function resetChart() {
    chart.capacity = 8192;
    chart.size = 0;
    chart.head = 0;
    chart.column = new Float64Array(chart.capacity);
    chart.min = new Uint16Array(chart.capacity);
    chart.max = new Uint16Array(chart.capacity);
    chart.expected = null;
  }
  resetChart();

  function push(column, min, max) {
    const at = (chart.head + chart.size) % chart.capacity;
    chart.column[at] = column;
    chart.min[at] = min;
    chart.max[at] = max;
    if (chart.size < chart.capacity) chart.size++;
    else chart.head = (chart.head + 1) % chart.capacity;
  }

  function onFrame(f) {
    stats.frames++;
    stats.dropped = f.dropped;
    if (f.acquisition !== chart.acquisition) {
      resetChart();
      chart.acquisition = f.acquisition;
      stats.acquisition = f.acquisition;
      stats.firstColumn = f.column;
    }
    chart.spc = f.spc;
    if (chart.expected !== null && f.column !== chart.expected) {
      if (f.column < chart.expected) stats.outOfOrder++;
      else { stats.gaps++; stats.gapColumns += f.column - chart.expected; push(NaN, 0, 0); }
    }
    for (let i = 0; i < f.min.length; i++) push(f.column + i, f.min[i], f.max[i]);
    stats.columns += f.min.length;
    chart.expected = f.column + f.min.length;
    stats.lastColumn = chart.expected - 1;
    if (!chart.pending) {
      chart.pending = true;
      requestAnimationFrame(draw);
    }
  }

  function volts(code, fullScale) {
    return (code - hello.multifunction.mid_scale) / 2048 * fullScale;
  }

  // The chart's data, for tests: seconds (or sample numbers without a known
  // rate) and volts of each column kept.
  window.panelChart = () => chartData();

  function chartData() {
    const a = chart.state;
    const fullScale = a ? a.range_volts : 10;
    const rate = a && a.rate_hz ? a.rate_hz : null;
    const maxCode = hello ? hello.multifunction.max_code : 4095;
    const n = chart.size;
    const x = new Array(n), lo = new Array(n), hi = new Array(n), over = new Array(n);
    for (let k = 0; k < n; k++) {
      const at = (chart.head + k) % chart.capacity;
      const c = chart.column[at];
      const sample = c * chart.spc;
      x[k] = Number.isNaN(c) ? (k > 0 ? x[k - 1] : 0) : (rate ? sample / rate : sample);
      const gap = Number.isNaN(c);
      lo[k] = gap ? null : volts(chart.min[at], fullScale);
      hi[k] = gap ? null : volts(chart.max[at], fullScale);
      const isOver = !gap && (chart.min[at] === 0 || chart.max[at] === maxCode);
      over[k] = isOver ? (chart.max[at] === maxCode ? hi[k] : lo[k]) : null;
    }
    return { acquisition: chart.acquisition, spc: chart.spc, rate, fullScale, x, min: lo, max: hi, over,
             columns: Array.from({ length: n }, (_, k) => chart.column[(chart.head + k) % chart.capacity]) };
  }

  function makeChart() {
    const box = document.getElementById('chart');
    if (!box || typeof uPlot === 'undefined') return;
    const width = Math.max(300, box.clientWidth || 900);
    chart.plot = new uPlot({
      width, height: 320,
      scales: {
        x: { time: false, range: () => xRange() },
        y: { range: () => { const v = chart.state ? chart.state.range_volts : 10; return [-v, v]; } },
      },
      axes: [
        { label: 'seconds', values: (u, ticks) => ticks.map((t) => +t.toPrecision(6)) },
        { label: 'volts', size: 60 },
      ],
      series: [
        {},
        { label: 'min', stroke: '#2060c0', width: 1 },
        { label: 'max', stroke: '#2060c0', width: 1 },
        { label: 'over range', stroke: '#d02020', width: 0, points: { show: true, size: 6, fill: '#d02020' } },
      ],
      bands: [{ series: [2, 1], fill: 'rgba(32, 96, 192, 0.25)' }],
      legend: { show: true },
      cursor: { drag: { x: false, y: false } },
    }, [[], [], [], []], box);
  }

  function xRange() {
    const a = chart.state;
    const rate = a && a.rate_hz ? a.rate_hz : null;
    const span = rate ? chart.seconds : Math.max(1, chart.capacity * chart.spc);
    if (chart.size === 0) return [0, span];
    const last = chart.column[(chart.head + chart.size - 1) % chart.capacity] + 1;
    const end = rate ? (last * chart.spc) / rate : last * chart.spc;
    return [Math.max(0, end - span), Math.max(span, end)];
  }

  let drawsThisSecond = 0;
  setInterval(() => { stats.fps = drawsThisSecond; drawsThisSecond = 0; }, 1000);

  function draw() {
    chart.pending = false;
    if (!chart.plot) return;
    const d = chartData();
    chart.plot.setData([d.x, d.min, d.max, d.over]);
    stats.draws++;
    drawsThisSecond++;
    const a = chart.state;
    ui.mf.chartNote.textContent = a
      ? `x: ${a.rate_hz ? 'seconds' : 'samples (rate unknown)'}, y: volts; ${chart.spc} samples a column (min and max), the last ${chart.seconds} s`
      : '';
  }

  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', connect);
  else connect();
})();
