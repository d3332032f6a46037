// The simulated box as a person sees it, live. Everything shown comes from the box's event stream
// (/api/events): a "state" event with the whole state when anything changed, at most four a
// second, and the named events as they happen. A switch changed here goes to /api/set; a value the
// box refuses shows the box's own words beside it. Nothing is polled, and nothing is fetched from
// anywhere but the box.
'use strict';

// The part of the page each switch changes, by its name. A switch no rule places (or whose part
// is not on the page) goes to "More of the box", with a control for its JSON type.
const PLACES = [
  [/^(silent|garbage|split|bad-checksum|noise)\.(\d+)$/, m => 'board-' + m[2]],
  [/^announce$/, () => 'boards'],
  [/^no-env$/, () => 'environment'],
  [/^unplugged\.(.+)$/, m => 'port-' + m[1]],
  [/^device\.(\d+)(\.u\d+)?\.fault$/, m => 'device-' + m[1]],
  [/^(no-gps|gps-.+)$/, () => 'gps'],
  [/^(modem|no-modem|modem-.+)$/, () => 'modem'],
];

// Number switches with a fixed set of values, from 1: a choice.
const CHOICES = {
  'gps-mode': ['GPS', 'BeiDou', 'GPS+BeiDou', 'GLONASS', 'GPS+GLONASS', 'BeiDou+GLONASS', 'GPS+BeiDou+GLONASS'],
  'modem': ['ZTE3630', 'N720CA04', 'gprs', 'ZTE3630c3b', 'N720CA05', 'N720CA61s2', 'ZTE3630', 'ZTE3630tty_GW',
            'VQM4411', 'EC20', 'EC200T', 'EC200S', 'M620', 'M620A', 'M820A'],
};

// The state's parts this page shows in their own places; any other is shown as it comes.
const SHOWN = ['leds', 'gpio', 'outputs', 'environment', 'boards', 'ports', 'devices', 'gps', 'modem', 'link',
               'reboot', 'commands', 'ftp', 'switches'];
// A register or bit of a Modbus device, as its switch is named: device.UART[.uUNIT].TABLE.ADDRESS.
const REGISTER = /^device\.(\d+)(?:\.u(\d+))?\.(coil|discrete|holding|input)\.(\d+)$/;
const TABLES = ['holding', 'input', 'coil', 'discrete'];

const RECEIVER_PORT = 'ttymxc7';
const SIGNAL_BARS = [[20, 4], [15, 3], [10, 2], [2, 1]];  // the CSQ from which so many bars show
const SYSTEM_MODES = {17: 'LTE'};
const FEED_LENGTH = 12;
const RETRY_MS = [1000, 2000, 4000];  // waits before each new try to reach a lost box; the last repeats

// The named events, each as one line of the feed.
const SAY = {
  switch: d => `switch ${d.name} = ${JSON.stringify(d.value)}`,
  led: d => `LED ${d.led} ${ledWord(d.lit)}`,
  output: d => `output ${d.output} ${d.on ? 'on' : 'off'}`,
  board: d => `board ${d.board} ${d.present ? 'back' : 'gone'}`,
  modem: d => `module ${d.model ?? ''} ${d.present ? 'there' : `gone (${d.why})`}`,
  dial: d => `dial-up script run (${d.dials})`,
  link: d => `ppp0 ${d.up ? 'up, ' + d.address : 'down'}`,
  reboot: d => `reboot requested (${d.requests}) at ${d.at}`,
  command: d => `ran "${d.command}"`,
};

let state = null;  // the last state the box sent
let retries = 0;

const $ = id => document.getElementById(id);

// el('li', {class: 'in'}, 'text', child, [more children]): attributes null or false are left out.
function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) if (v !== null && v !== undefined && v !== false) e.setAttribute(k, v);
  e.append(...children.flat(Infinity).filter(c => c !== null && c !== undefined)
    .map(c => (c instanceof Node ? c : String(c))));
  return e;
}

const orDash = v => (v === null || v === undefined || v === false || v === '' ? '—' : v);
const code = v => (v === null ? '—' : el('code', {}, v));
const ledWord = lit => (lit === null ? 'not driven' : lit ? 'lit' : 'dark');

// Rows of [label, value, id of the value].
function facts(rows) {
  return el('dl', {}, rows.map(([k, v, id]) => [el('dt', {}, k), el('dd', {id: id ?? null}, orDash(v))]));
}

function show(id, ...children) { $(id).replaceChildren(...children.flat()); }

// A card of its own for a board or a port: its facts, redrawn, and its switches, kept.
function card(group, key, title) {
  if (!$('card-' + key)) {
    $('cards-' + group).append(el('article', {class: 'card', id: 'card-' + key, 'aria-labelledby': 'title-' + key},
      el('h4', {id: 'title-' + key}, title), el('div', {class: 'facts', id: 'facts-' + key}),
      el('div', {class: 'switches', id: 'switches-' + key})));
  }
  return 'facts-' + key;
}

// An LED or an output: a lamp, its name and what it says. Numbered ones are named with their kind.
function lamp(kind, name, word, note) {
  return el('div', {class: `${kind} ${word.replace(' ', '-')}`, id: `${kind}-${name}`},
    el('span', {class: 'lamp', 'aria-hidden': 'true'}),
    el('span', {class: 'name'}, /^\d+$/.test(name) ? `${kind === 'led' ? 'LED' : 'output'} ${name}` : name),
    el('span', {class: 'says'}, word), note && el('span', {class: 'note'}, note));
}

function renderFront(s) {
  // A name that is a number comes last, as the box lists its LEDs.
  const leds = Object.entries(s.leds).sort(([a], [b]) => /^\d+$/.test(a) - /^\d+$/.test(b));
  show('facts-leds', el('div', {class: 'lamps'}, leds.map(([n, l]) => lamp('led', n, ledWord(l.lit), `GPIO ${l.gpio}`))));
  const e = s.environment;
  show('facts-environment',
    s.outputs === null ? el('p', {class: 'quiet'}, 'no environment equipment: board 1\'s channel 4 loops back')
      : el('div', {class: 'lamps'}, Object.entries(s.outputs).map(([n, on]) => lamp('output', n, on ? 'on' : 'off'))),
    facts([['frames', `${e.frames} (${e.bad_frames} bad), ${e.replies} replies`],
           ['last frame', code(e.last_frame)], ['last reply', code(e.last_reply)]]));
  show('facts-reboot', facts([['requests', s.reboot.requests, 'reboot-requests'], ['last', s.reboot.last]]));
}

function renderBoards(boards) {
  for (const [n, b] of Object.entries(boards)) {
    show(card('boards', 'board-' + n, `Board ${n}`),
      el('p', {class: 'badge ' + (b.present ? 'up' : 'down'), id: `board-${n}-present`}, b.present ? 'present' : 'absent'),
      facts([['port', b.port], ['announcements', b.announcements],
             ['frames in', `${b.frames_in} (${b.bad_sums} bad sums)`], ['frames out', b.frames_out],
             ['keep-alives', b.keepalives], ['garbage', `${b.garbage} bytes`], ['last frame', code(b.last_frame)]]));
  }
}

// The hexadecimal pairs as text: printable ASCII as it is, anything else as a dot.
function asText(hex) {
  return hex.split(' ').map(pair => {
    if (pair === '...') return '…';
    const b = parseInt(pair, 16);
    return b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '·';
  }).join('');
}

function renderPorts(s) {
  const roles = {[RECEIVER_PORT]: 'GPS/BeiDou receiver'};
  for (const [n, b] of Object.entries(s.boards)) roles[b.port] = `extension board ${n}`;
  for (const [name, p] of Object.entries(s.ports)) {
    const traffic = p.recent.length === 0 ? el('p', {class: 'quiet'}, 'no traffic yet')
      : el('ol', {class: 'traffic', 'aria-label': `last traffic on ${name}`}, p.recent.map(t => el('li', {class: t.way},
          el('span', {class: 'way'}, t.way), el('span', {class: 'count'}, t.bytes),
          el('code', {class: 'text', title: asText(t.hex)}, asText(t.hex)), el('code', {class: 'hex', title: t.hex}, t.hex))));
    show(card('ports', 'port-' + name, `${name} · ${roles[name] ?? 'pass-through'}`),
      el('p', {class: 'badge ' + (p.present ? 'up' : 'down')}, p.present ? 'plugged in' : 'unplugged'),
      facts([['bytes', `${p.bytes_in} in, ${p.bytes_out} out`, `port-${name}-bytes`]]), traffic);
  }
}

// "9600 8N1"; a box port shows only its rate and stop bits.
const lineText = l => l && (l.data === null ? `${l.baud} baud, ${l.stop} stop bit${l.stop > 1 ? 's' : ''}`
  : `${l.baud} ${l.data}${{none: 'N', odd: 'O', even: 'E'}[l.parity] ?? '?'}${l.stop}`);

// Each Uart's device: what it is and what it did; a Modbus unit's named registers (and any other
// that is not 0), each editable, and a form for any register at all.
function renderDevices(devices) {
  for (const [n, d] of Object.entries(devices)) {
    show(card('devices', 'device-' + n, `Local/Uart/${n} · ${d.kind}`),
      facts([['line', d.line], ['settings', d.settings ? lineText(d.settings) : 'any'],
             ['host\'s line', lineText(d.host), `device-${n}-host`],
             ['requests', `${d.requests}, ${d.answers} answers, ${d.errors} errors`, `device-${n}-counts`],
             ...(d.file ? [['file', d.file]] : []),
             ...(d.port ? [['TCP', `127.0.0.1:${d.port}${d.client ? ', a client connected' : ''}`]] : [])]));
    if (!d.units) continue;
    const bus = Object.keys(d.units).length > 1;
    for (const [u, unit] of Object.entries(d.units)) {
      const prefix = `device.${n}${bus ? '.u' + u : ''}.`;
      const box = $(`unit-${n}-${u}`) ?? $('card-device-' + n).appendChild(unitBox(n, u, prefix));
      show(`unit-${n}-${u}-counts`, `unit ${u}: ${unit.requests} requests, ${unit.answers} answers, ${unit.errors} errors`);
      for (const table of TABLES) {
        for (const [a, r] of Object.entries(unit[table])) {
          if (r.name === null && !r.value) continue;
          const input = control(prefix + `${table}.${a}`, r.value, box.querySelector('.registers'),
                                `${table} ${a}${r.name ? ' ' + r.name : ''}`);
          showValue(input, r.value);
        }
      }
    }
  }
}

function unitBox(n, u, prefix) {
  const table = el('select', {'aria-label': 'table'}, TABLES.map(t => el('option', {value: t}, t)));
  const address = el('input', {type: 'text', size: 5, inputmode: 'numeric', 'aria-label': 'address', value: '0'});
  const value = el('input', {type: 'text', size: 6, 'aria-label': 'value'});
  const error = el('span', {class: 'error', 'aria-live': 'polite'});
  const form = el('form', {class: 'any-register'}, 'set ', table, ' ', address, ' to ', value, ' ',
    el('button', {type: 'submit'}, 'Set'), error);
  form.addEventListener('submit', async e => {
    e.preventDefault();
    const text = value.value.trim();
    error.textContent = await post(prefix + `${table.value}.${address.value.trim()}`, /^\d+$/.test(text) ? Number(text) : text);
  });
  return el('div', {class: 'unit', id: `unit-${n}-${u}`}, el('h4', {id: `unit-${n}-${u}-counts`}),
    el('div', {class: 'switches registers'}), form);
}

const degrees = (v, plus, minus) => `${Math.abs(v).toFixed(7)} ${v < 0 ? minus : plus}`;

function renderGps(g) {
  const p = g.position;
  show('facts-gps', facts([
    ['sending', g.streaming ? `${g.source}, ${g.pace} bytes/s` : 'nothing'],
    ['mode', `${g.mode} (${g.mode_name})`],
    ['fix', g.fix ? 'fix' : 'no fix', 'gps-fix'],
    ['position', p && `${degrees(p.lat, 'N', 'S')}, ${degrees(p.lon, 'E', 'W')}, ${p.altitude.toFixed(1)} m`],
    ['satellites', g.satellites && `${g.satellites.used} used of ${g.satellites.in_view} in view`],
    ['last command', g.last_command && `${g.last_command} (${g.last_command_ok ? 'ok' : 'bad checksum'})`],
    ['saves', g.saves + (g.saved_mode === null ? '' : ` (mode ${g.saved_mode})`)],
    ['dropped', `${g.dropped} bytes`]]));
}

function signal(m) {
  if (m.csq === null) return null;
  const bars = (SIGNAL_BARS.find(([from]) => m.csq !== 99 && m.csq >= from) ?? [0, 0])[1];
  return [`CSQ ${m.csq},${m.ber} `,
    el('span', {class: 'bars', 'aria-hidden': 'true'}, [1, 2, 3, 4].map(i => el('span', {class: i <= bars ? 'on' : null}))),
    ` ${bars} of 4 bars`];
}

function renderModem(m) {
  const system = m.system_mode === null ? '' : `, system mode ${m.system_mode} ${SYSTEM_MODES[m.system_mode] ?? ''}`;
  show('facts-modem', facts([
    ['model', m.fitted ? m.model : 'none fitted', 'modem-model'],
    ['row, USB id', m.fitted && `${m.row}, ${m.usb_id}`],
    ['AT device', m.fitted && `${m.at_device}${m.present ? '' : ' (not there)'}`],
    ['signal', signal(m), 'modem-signal'],
    ['registration', m.registered ? `registered${system}` : 'no service', 'modem-registration'],
    ['SIM', m.sim === null ? null : m.sim ? `IMSI ${m.imsi}` : 'no SIM'],
    ['IMEI', m.imei],
    ['framing', m.framing && `${m.framing}, echo ${m.echo ? 'on' : 'off'}`],
    ['commands', `${m.commands}${m.last_command === null ? '' : `, last "${m.last_command}"`}`],
    ['restarts', `${m.restarts}; ${m.power_cycles} power cycles`]]));
}

function renderLink(l) {
  show('facts-link', facts([
    ['ppp0', l.up ? `up, ${l.address}` : 'down', 'link-state'],
    ['dials', `${l.dials}${l.dialling ? ', dialling' : ''}`],
    ['USB', l.usb_device === null ? 'no module on the bus' : `bus 1 device ${l.usb_device}`],
    ['power', l.power_cut ? 'cut (GPIO 12 low)' : 'on'],
    ['new ids', l.new_id.join('; ')]]));
}

function renderLists(s) {
  show('facts-ftp', s.ftp.length === 0 ? el('p', {class: 'quiet'}, 'no accounts')
    : facts(s.ftp.map(a => [a.user, a.home])));
  show('facts-commands', el('p', {}, `${s.commands.count} commands`),
    el('ol', {class: 'commands'}, s.commands.last.map(c => el('li', {}, el('code', {}, c)))));
}

// A value of a part this page does not know, as nested lists.
function tree(v) {
  if (v === null || typeof v !== 'object') return orDash(typeof v === 'string' ? v : JSON.stringify(v));
  return el('dl', {class: 'tree'}, Object.entries(v).map(([k, x]) => [el('dt', {}, k), el('dd', {}, tree(x))]));
}

function renderOthers(s) {
  const others = Object.keys(s).filter(k => !SHOWN.includes(k));
  for (const k of others) show(card('other', 'part-' + k, k), tree(s[k]));
  if (others.length) $('other').hidden = false;
}

// ---- switches

function placeOf(name) {
  for (const [pattern, place] of PLACES) {
    const m = name.match(pattern);
    if (m && $('switches-' + place(m))) return place(m);
  }
  return 'other';
}

// The switch's control, made the first time the state names it: beside what it changes, or in
// `into` under `title`.
function control(name, value, into = null, title = name) {
  const id = 'sw-' + name;
  if ($(id)) return $(id);
  const type = typeof value;
  const input = type === 'boolean' ? el('input', {type: 'checkbox', id})
    : CHOICES[name] ? el('select', {id}, CHOICES[name].map((label, i) => el('option', {value: i + 1}, `${i + 1} ${label}`)))
    : el('input', {type: 'text', id, inputmode: type === 'number' ? 'numeric' : null, size: type === 'number' ? 6 : 28,
                   spellcheck: 'false', autocomplete: 'off'});
  input.dataset.name = name;
  input.dataset.type = type;
  const error = el('span', {class: 'error', id: 'err-' + name, 'aria-live': 'polite'});
  input.setAttribute('aria-describedby', error.id);
  input.addEventListener('change', () => send(input));
  if (input.type === 'text') {  // what is being typed stays until it is sent or left
    input.addEventListener('input', () => { input.dataset.edited = '1'; });
    input.addEventListener('blur', () => {
      delete input.dataset.edited;
      if (state) showValue(input, current(name));
    });
  }
  const label = el('label', {for: id}, title);
  const place = into ? null : placeOf(name);
  (into ?? $('switches-' + place)).append(el('div', {class: 'switch ' + type}, type === 'boolean' ? [input, label] : [label, input], error));
  if (place === 'other') $('other').hidden = false;
  return input;
}

// The box's value in the control, but while a change is on its way or being typed.
function showValue(input, value) {
  if (input.dataset.busy || input.dataset.edited) return;
  if (input.type === 'checkbox') {
    input.checked = value;
    return;
  }
  if (input.tagName === 'SELECT' && ![...input.options].some(o => o.value === String(value))) {
    input.append(el('option', {value}, String(value)));
  }
  input.value = String(value);
}

function typed(input) {
  if (input.type === 'checkbox') return input.checked;
  const text = input.value.trim();
  return input.dataset.type === 'number' && /^-?\d+$/.test(text) ? Number(text) : text;
}

// The box's value of a switch, or of a register or bit.
function current(name) {
  const m = name.match(REGISTER);
  if (!m) return state.switches[name];
  const units = state.devices[m[1]]?.units ?? {};
  return units[m[2] ?? Object.keys(units)[0]]?.[m[3]]?.[m[4]]?.value;
}

// Sets one switch; the box's new state is drawn, and the change kept for a scenario file.
// Returns what the box said against it, or ''.
async function post(name, value) {
  try {
    const res = await fetch('/api/set', {method: 'POST', headers: {'Content-Type': 'application/json'},
                                         body: JSON.stringify({[name]: value})});
    const body = await res.json().catch(() => ({}));
    if (!res.ok) return body.error ?? `refused (HTTP ${res.status})`;
    keep(name, value);
    render(body);
    return '';
  } catch {
    return 'the box did not answer';
  }
}

async function send(input) {
  const name = input.dataset.name;
  const error = $('err-' + name);
  input.dataset.busy = '1';
  error.textContent = await post(name, typed(input));
  delete input.dataset.busy;
  if (!error.textContent) {
    input.removeAttribute('aria-invalid');
    delete input.dataset.edited;
    showValue(input, current(name));
  } else {
    input.setAttribute('aria-invalid', 'true');
    if (state) showValue(input, current(name));
  }
}

// ---- the switches set here, as a scenario file (fsu-sim --scenario): one step a change, at its
// time since the page began keeping them, which is the file's time 0

const kept = {since: 0, at: null, steps: []};
const DEFAULT_LINE = {baud: 9600, data: 8, stop: 1, parity: 'none'};
const MAX_DEVICE_UART = 12;  // 14, board 1's environment channel, is bridged by --bridge only
const SAVED_URL_MS = 60000;  // the saved file's address lives this long: the download has long begun

function keepAgain() {
  kept.since = performance.now();
  kept.at = new Date();
  kept.steps = [];
  showKept();
}

function keep(name, value) {
  kept.steps.push({at: performance.now() - kept.since, name, value});
  showKept();
}

function showKept() {
  const n = kept.steps.length;
  $('kept').textContent = `${n === 0 ? 'no' : n} switch${n === 1 ? '' : 'es'} set since ` +
    kept.at.toLocaleTimeString([], {hour12: false});
}

// 12s or 12300ms: to a tenth of a second.
function timeText(ms) {
  const t = Math.round(ms / 100) * 100;
  return t % 1000 === 0 ? `${t / 1000}s` : `${t}ms`;
}

const valueText = v => (v === true ? 'on' : v === false ? 'off' : String(v));

// The start options of the box's devices, which their switches need: ",baud=19200" and the like
// where a device's line is not 9600 8N1.
function deviceOptions(devices) {
  const options = [];
  for (const [n, d] of Object.entries(devices)) {
    if (d.kind === 'echo' || Number(n) > MAX_DEVICE_UART) continue;
    const line = Object.entries(d.settings ?? {}).filter(([k, v]) => v !== DEFAULT_LINE[k]).map(([k, v]) => `,${k}=${v}`).join('');
    const units = d.kind === 'modbus' ? Object.entries(d.units) : [[null, d]];
    for (const [u, unit] of units) {
      options.push(`--device ${n}=${d.kind}${u ? ',unit=' + u : ''}${unit.file ? ',file=' + unit.file : ''}` +
                   `${d.port ? ',port=' + d.port : ''}${line}`);
    }
  }
  return options;
}

// 2024-07-01 08:30:05, local time.
function stamp(d) {
  const two = n => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())} ` +
    `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
}

function scenarioText() {
  const devices = state ? deviceOptions(state.devices) : [];
  return [
    `# Switches set on the box's page at ${location.host}, each at its time since ${stamp(kept.at)}`,
    '# (time 0 here). The box line names the devices\' files as fsu-sim was given them; in a scenario',
    '# file a relative path goes from the file\'s folder. Add what the host must make the box do as',
    '# expect lines, such as "expect within 30s leds.alarm.lit = on".',
    ...(devices.length ? ['box ' + devices.join(' ')] : []),
    ...kept.steps.map(s => `at ${timeText(s.at)} set ${s.name}=${valueText(s.value)}`),
  ].join('\n') + '\n';
}

// A download made here: nothing is fetched.
function saveScenario() {
  const url = URL.createObjectURL(new Blob([scenarioText()], {type: 'text/plain'}));
  const link = el('a', {href: url, download: 'box.scenario'});
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), SAVED_URL_MS);
}

// ---- the stream

function render(s) {
  state = s;
  renderFront(s);
  renderBoards(s.boards);
  renderPorts(s);
  renderDevices(s.devices);
  renderGps(s.gps);
  renderModem(s.modem);
  renderLink(s.link);
  renderLists(s);
  renderOthers(s);
  for (const [name, value] of Object.entries(s.switches)) showValue(control(name, value), value);
}

function named(name, data) {
  const now = new Date().toLocaleTimeString([], {hour12: false});
  const feed = $('feed');
  feed.prepend(el('li', {}, el('time', {}, now), ' ', SAY[name](data)));
  while (feed.children.length > FEED_LENGTH) feed.lastChild.remove();
  if (!state) return;
  // These two show at once rather than with the next state.
  if (name === 'led') {
    state.leds[data.led].lit = data.lit;
    renderFront(state);
  } else if (name === 'switch' && REGISTER.test(data.name)) {
    if ($('sw-' + data.name)) showValue($('sw-' + data.name), data.value);
  } else if (name === 'switch') {
    state.switches[data.name] = data.value;
    showValue(control(data.name, data.value), data.value);
  }
}

function connected(live) {
  document.body.className = live ? 'live' : 'lost';
  $('connection').textContent = live ? `Connected to the box at ${location.host}`
    : `Lost the box at ${location.host}: trying again…`;
}

function connect() {
  const events = new EventSource('/api/events');
  events.addEventListener('state', e => {
    retries = 0;
    if (document.body.className !== 'live') connected(true);
    render(JSON.parse(e.data));
  });
  for (const name of Object.keys(SAY)) events.addEventListener(name, e => named(name, JSON.parse(e.data)));
  // A box gone, or one with every stream taken: this page tries again itself, at its own pace.
  events.addEventListener('error', () => {
    events.close();
    connected(false);
    setTimeout(connect, RETRY_MS[Math.min(retries++, RETRY_MS.length - 1)]);
  });
}

$('save-scenario').addEventListener('click', saveScenario);
$('keep-again').addEventListener('click', keepAgain);
keepAgain();
connect();
