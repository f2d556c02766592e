// The live view's page: state and log lines arrive as server-sent events
// (/api/events), every channel's JPEG frames in one multipart stream
// (/video, each part labelled "X-Channel: device/channel"), actions go out
// as POSTs. Plain script, no framework: the tool serves this file as is.
'use strict';

const tiles = new Map();    // "d/c" -> { root, canvas, ... }
const devices = new Map();  // device index -> { root, inputs, outputs }
let lastState = null;
let viewAnswering = true;
const actionErrors = [];    // recent failed actions, shown as banners

// ---- actions

async function post(path, params) {
  const query = new URLSearchParams(params).toString();
  try {
    const response = await fetch(`${path}?${query}`, { method: 'POST', body: '', headers: { 'X-Strevon-View': '1' } });
    const body = await response.json().catch(() => ({ ok: false, result: `HTTP ${response.status}` }));
    if (!body.ok) noteError(body.result);
    return body;
  } catch (e) {
    noteError(`the view tool did not answer (${e.message})`);
    return { ok: false };
  }
}

function noteError(text) {
  actionErrors.push({ text, at: Date.now() });
  while (actionErrors.length > 3) actionErrors.shift();
  renderBanners();
}

// A motion runs while its button is held; the stop goes out on release,
// on a lost pointer, and (as a beacon) when the page is hidden or left.
const held = new Set();
function holdButton(button, device, channel, tile) {
  const start = (event) => {
    event.preventDefault();
    if (button.disabled || button.classList.contains('held')) return;
    button.setPointerCapture?.(event.pointerId);
    button.classList.add('held');
    held.add(button);
    post('/api/ptz', { device, channel, action: button.dataset.ptz, value: button.dataset.value,
                       speed: tile.speed.value });
  };
  const stop = () => {
    if (!button.classList.contains('held')) return;
    button.classList.remove('held');
    held.delete(button);
    post('/api/ptz', { device, channel, action: 'stop' });
  };
  button.addEventListener('pointerdown', start);
  button.addEventListener('pointerup', stop);
  button.addEventListener('pointercancel', stop);
  button.addEventListener('lostpointercapture', stop);
  button.addEventListener('contextmenu', (e) => e.preventDefault());
}
function leavePage() {
  if (held.size === 0) return;
  held.forEach((b) => b.classList.remove('held'));
  held.clear();
  navigator.sendBeacon('/api/stop', '');
}
window.addEventListener('pagehide', leavePage);
window.addEventListener('blur', () => held.forEach((b) => b.dispatchEvent(new Event('pointercancel'))));
document.addEventListener('visibilitychange', () => { if (document.hidden) leavePage(); });

// ---- building the page

function deviceView(state) {
  let view = devices.get(state.index);
  if (view) return view;
  const root = document.getElementById('device-template').content.firstElementChild.cloneNode(true);
  root.id = `device-${state.index}`;
  document.getElementById('devices').appendChild(root);
  view = { root, title: root.querySelector('.device-title'), tiles: root.querySelector('.tiles'),
           inputs: root.querySelector('.inputs ul'), outputs: root.querySelector('.outputs ul'),
           built: false };
  devices.set(state.index, view);
  return view;
}

function tileView(device, channel, parent) {
  const key = `${device}/${channel.channel}`;
  let tile = tiles.get(key);
  if (tile) return tile;
  const root = document.getElementById('tile-template').content.firstElementChild.cloneNode(true);
  root.id = `tile-${device}-${channel.channel}`;
  parent.appendChild(root);
  tile = { root, canvas: root.querySelector('canvas'), badge: root.querySelector('.badge'),
           camera: root.querySelector('.camera'), numbers: root.querySelector('.numbers'),
           ptz: root.querySelector('.ptz'), presets: root.querySelector('.preset-list'),
           speed: root.querySelector('.speed'), last: root.querySelector('.ptz-last'),
           decoding: false, pending: null, presetNames: '' };
  tile.canvas.id = `video-${device}-${channel.channel}`;
  root.querySelectorAll('[data-ptz]').forEach((b) => holdButton(b, device, channel.channel, tile));
  root.querySelector('.preset-go').addEventListener('click', () => {
    if (tile.presets.value) {
      post('/api/ptz', { device, channel: channel.channel, action: 'preset', value: tile.presets.value,
                         speed: tile.speed.value });
    }
  });
  tiles.set(key, tile);
  return tile;
}

function fixed(value, digits) { return value === null || value === undefined ? '–' : Number(value).toFixed(digits); }

function render(state) {
  lastState = state;
  let online = 0;
  let total = 0;
  for (const d of state.devices) {
    const view = deviceView(d);
    view.title.textContent = `${d.name || 'Gateway'} at ${d.gateway} (user ${d.user})`;
    for (const c of d.channels) {
      total += 1;
      if (c.status === 'online') online += 1;
      const tile = tileView(d.index, c, view.tiles);
      tile.badge.textContent = c.status;
      tile.badge.className = `badge ${c.status.replace(' ', '-')}`;
      tile.camera.textContent = `ch${c.channel} · ${c.camera}`;
      const latency = c.latency_ms === null ? '' : ` · latency ${fixed(c.latency_ms, 1)} ms`;
      tile.numbers.textContent = `${fixed(c.fps, 1)} fps · ${fixed(c.kbps, 0)} kbit/s · ${c.frames} frames` +
        ` · lost ${c.lost}${latency}${c.size ? ' · ' + c.size : ''}${c.jpeg ? '' : ' · not JPEG, not shown'}`;
      renderPtz(tile, c.ptz);
    }
    if (!view.built) buildIo(view, d);
    for (const i of d.inputs) {
      const lamp = view.root.querySelector(`#input-${d.index}-${i.index} .lamp`);
      lamp.dataset.state = i.state;
      lamp.title = `${i.state}, ${i.changes} change(s)`;
    }
    for (const o of d.outputs) {
      view.root.querySelector(`#output-${d.index}-${o.index} .count`).textContent =
        o.toggles ? ` toggled ${o.toggles}×` : '';
    }
  }
  document.getElementById('summary').textContent =
    `${online} of ${total} channel(s) online · up ${Math.floor(state.uptime_s)} s`;
  renderBanners();
}

function renderPtz(tile, ptz) {
  tile.ptz.hidden = !ptz;
  if (!ptz) return;
  const enable = { move: ptz.ready && (ptz.pan || ptz.tilt), zoom: ptz.ready && ptz.zoom,
                   focus: ptz.ready && ptz.focus, iris: ptz.ready && ptz.iris };
  tile.ptz.querySelectorAll('[data-ptz]').forEach((b) => {
    if (!b.classList.contains('held')) b.disabled = !enable[b.dataset.ptz];
  });
  const names = ptz.presets.join('\n');
  if (names !== tile.presetNames) {
    tile.presetNames = names;
    tile.presets.replaceChildren(new Option(ptz.presets.length ? 'presets…' : 'no presets yet', ''),
                                 ...ptz.presets.map((p) => new Option(p, p)));
  }
  tile.last.textContent = ptz.ready ? [ptz.current && `at ${ptz.current}`, ptz.last].filter(Boolean).join(' · ')
                                    : `PTZ not ready${ptz.failure ? ': ' + ptz.failure : ''}`;
}

function buildIo(view, d) {
  view.built = true;
  view.root.querySelector('.io').hidden = d.inputs.length === 0 && d.outputs.length === 0;
  for (const i of d.inputs) {
    const li = document.createElement('li');
    li.id = `input-${d.index}-${i.index}`;
    li.innerHTML = '<span class="lamp" data-state="unknown"></span>';
    li.append(i.pid);
    view.inputs.appendChild(li);
  }
  for (const o of d.outputs) {
    const li = document.createElement('li');
    li.id = `output-${d.index}-${o.index}`;
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = `Toggle ${o.pid}`;
    button.disabled = !d.io;
    button.addEventListener('click', () => post('/api/output', { device: d.index, output: o.index }));
    const count = document.createElement('span');
    count.className = 'count hint';
    li.append(button, count);
    view.outputs.appendChild(li);
  }
}

function renderBanners() {
  const banners = [];
  if (!viewAnswering) {
    banners.push(['bad', 'The view tool is not answering: is strevon-host still running? Retrying…']);
  }
  for (const d of (lastState ? lastState.devices : [])) {
    const problem = d.problem ? ` ${d.problem}.` : '';
    if (d.connection === 'lost') {
      banners.push(['bad', `The Gateway connection to ${d.gateway} is lost (${Math.floor(d.since_s)} s ago); ` +
                           `the driver is reconnecting.${problem}`]);
    } else if (d.connection === 'connecting') {
      banners.push([d.problem ? 'bad' : 'info', `Waiting for video from ${d.gateway} (${Math.floor(d.since_s)} s).${problem}`]);
    } else if (d.back_s !== null && d.back_s < 10) {
      banners.push(['good', `The Gateway connection to ${d.gateway} is back.`]);
    }
  }
  const now = Date.now();
  for (const e of actionErrors) {
    if (now - e.at < 15000) banners.push(['bad', `Failed: ${e.text}`]);
  }
  const root = document.getElementById('banners');
  root.replaceChildren(...banners.map(([kind, text]) => {
    const div = document.createElement('div');
    div.className = `banner ${kind}`;
    div.textContent = text;
    return div;
  }));
}

// ---- the driver's log

const LEVEL_NAMES = { 1: 'ERROR', 2: 'WARN', 3: 'INFO', 4: 'DEBUG', 100: 'OPEN' };
const MAX_LOG_LINES = 1500;
function levelOf(line) { return line.level === 100 ? 3 : line.level; }
function addLog(lines) {
  const list = document.getElementById('log');
  const shown = Number(document.getElementById('log-level').value);
  for (const line of lines) {
    const li = document.createElement('li');
    li.className = `l${levelOf(line)}`;
    li.dataset.level = levelOf(line);
    li.hidden = levelOf(line) > shown;
    const t = document.createElement('span');
    t.className = 't';
    t.textContent = `${fixed(line.t, 1)} ${LEVEL_NAMES[line.level] || line.level}`;
    li.append(t, line.text);
    list.appendChild(li);
  }
  while (list.childElementCount > MAX_LOG_LINES) list.firstElementChild.remove();
  if (document.getElementById('log-follow').checked) list.scrollTop = list.scrollHeight;
}
document.getElementById('log-level').addEventListener('change', (e) => {
  const shown = Number(e.target.value);
  document.querySelectorAll('#log li').forEach((li) => { li.hidden = Number(li.dataset.level) > shown; });
});
document.getElementById('log-clear').addEventListener('click', () => document.getElementById('log').replaceChildren());

// ---- state and log events

const events = new EventSource('/api/events');
events.addEventListener('state', (e) => {
  if (!viewAnswering) { viewAnswering = true; }
  render(JSON.parse(e.data));
});
events.addEventListener('log', (e) => addLog(JSON.parse(e.data)));
events.addEventListener('error', () => { viewAnswering = false; renderBanners(); });

// ---- video: one multipart stream, parts drawn on their channel's canvas

function draw(tile, blob) {
  if (tile.decoding) { tile.pending = blob; return; }
  tile.decoding = true;
  createImageBitmap(blob).then((bitmap) => {
    if (tile.canvas.width !== bitmap.width || tile.canvas.height !== bitmap.height) {
      tile.canvas.width = bitmap.width;
      tile.canvas.height = bitmap.height;
    }
    tile.canvas.getContext('2d').drawImage(bitmap, 0, 0);
    bitmap.close();
  }).catch(() => {}).finally(() => {
    tile.decoding = false;
    const next = tile.pending;
    tile.pending = null;
    if (next) draw(tile, next);
  });
}

const decoder = new TextDecoder('latin1');
function indexOfBlankLine(bytes, from) {
  for (let i = from; i + 3 < bytes.length; i++) {
    if (bytes[i] === 13 && bytes[i + 1] === 10 && bytes[i + 2] === 13 && bytes[i + 3] === 10) return i;
  }
  return -1;
}

async function readVideo() {
  const response = await fetch('/video', { cache: 'no-store' });
  if (!response.ok || !response.body) throw new Error(`HTTP ${response.status}`);
  const reader = response.body.getReader();
  let buffer = new Uint8Array(0);
  let part = null;  // { key, length } once a part's headers are read
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    const joined = new Uint8Array(buffer.length + value.length);
    joined.set(buffer);
    joined.set(value, buffer.length);
    buffer = joined;
    for (;;) {
      if (!part) {
        const end = indexOfBlankLine(buffer, 0);
        if (end < 0) break;
        const headers = decoder.decode(buffer.subarray(0, end));
        const length = Number((/Content-Length:\s*(\d+)/i.exec(headers) || [])[1]);
        const key = ((/X-Channel:\s*(\d+\/\d+)/i.exec(headers) || [])[1]) || '';
        buffer = buffer.subarray(end + 4);
        if (!Number.isFinite(length)) throw new Error('a video part without Content-Length');
        part = { key, length };
      }
      if (buffer.length < part.length + 2) break;
      const tile = tiles.get(part.key);
      if (tile) draw(tile, new Blob([buffer.slice(0, part.length)], { type: 'image/jpeg' }));
      buffer = buffer.subarray(part.length + 2);
      part = null;
    }
  }
}

async function keepVideo() {
  for (;;) {
    try { await readVideo(); } catch (e) { /* the state stream says why */ }
    await new Promise((resolve) => setTimeout(resolve, 1000));
  }
}
keepVideo();
setInterval(renderBanners, 1000);
