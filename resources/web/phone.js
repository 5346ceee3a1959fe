// The phone view's page: what Vardolux sees on the lighting network, pushed over one WebSocket.
// It only ever sends which universe it follows. Every text that came from the network goes
// into the page as text (textContent), never as markup.
'use strict';

(function () {
  const Channels = 512;
  const HighestLevel = 255;
  const ChangeMarkMs = 1000;
  const ReconnectFirstMs = 1000;
  const ReconnectLastMs = 5000;
  const EventsKept = 100;

  const token = new URLSearchParams(window.location.search).get('t') || '';
  const byId = (id) => document.getElementById(id);

  const state = {
    socket: null,
    connected: false,
    reconnectMs: ReconnectFirstMs,
    universes: [],
    followed: null, // {p, u}
    levels: new Array(Channels).fill(-1),
    changedAt: new Array(Channels).fill(0),
    mode: 'decimal',
    channel: 0,
    eventCount: 0,
  };
  const cells = [];

  function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className)
      node.className = className;
    if (text !== undefined && text !== null)
      node.textContent = String(text);
    return node;
  }

  function levelText(level) {
    if (level < 0)
      return '–';
    switch (state.mode) {
    case 'percent':
      // As the window's table: truncated, so only a full 255 reads 100%.
      return Math.floor(level * 100 / HighestLevel) + '%';
    case 'hex':
      return '0x' + level.toString(16).padStart(2, '0');
    default:
      return String(level);
    }
  }

  function sameUniverse(a, b) {
    return a && b && a.p === b.p && Number(a.u) === Number(b.u);
  }

  function followedEntry() {
    return state.universes.find((entry) => sameUniverse(entry, state.followed)) || null;
  }

  function sourceText(source) {
    const address = String(source.addr || '');
    const name = String(source.name || '');
    return name ? address + ' (' + name + ')' : address;
  }

  function rateText(rate) {
    return typeof rate === 'number' ? rate.toFixed(1) + ' Hz' : '';
  }

  // ------------------------------------------------------------------------------------------
  // Views

  function showView(id) {
    for (const view of document.querySelectorAll('.view'))
      view.hidden = view.id !== id;
    for (const tab of document.querySelectorAll('.tab')) {
      if (tab.dataset.view === id)
        tab.setAttribute('aria-current', 'page');
      else
        tab.removeAttribute('aria-current');
    }
    window.scrollTo(0, 0);
  }

  function setStatus(text, kind) {
    const status = byId('status');
    status.textContent = text;
    status.className = 'status' + (kind ? ' ' + kind : '');
  }

  function renderUniverses() {
    const list = byId('universes');
    const items = state.universes.map((entry) => {
      const button = element('button', 'universe');
      button.type = 'button';
      button.dataset.p = String(entry.p);
      button.dataset.u = String(entry.u);
      if (sameUniverse(entry, state.followed))
        button.classList.add('followed');
      if (entry.live === false)
        button.classList.add('silent');
      const head = element('div', 'universe-head');
      head.append(element('span', 'universe-label', entry.label));
      if (entry.conflict)
        head.append(element('span', 'conflict', 'Conflict'));
      head.append(element('span', 'universe-rate', rateText(entry.rate)));
      button.append(head);
      const sources = element('ul', 'sources');
      for (const source of entry.sources || []) {
        const row = element('li', 'source' + (source.live === false ? ' silent' : ''));
        row.append(element('span', 'source-name', source.name || ''));
        row.append(element('span', 'source-addr', source.addr));
        if (entry.p === 'sacn' && typeof source.prio === 'number')
          row.append(element('span', 'source-prio', 'priority ' + source.prio));
        row.append(element('span', 'source-rate', rateText(source.rate)));
        sources.append(row);
      }
      button.append(sources);
      button.addEventListener('click', () => follow(entry.p, entry.u));
      const item = element('li');
      item.append(button);
      return item;
    });
    list.replaceChildren(...items);
    byId('universes-empty').hidden = items.length > 0;
    renderChannel();
  }

  function createGrid() {
    const grid = byId('grid');
    for (let channel = 0; channel < Channels; ++channel) {
      const cell = element('button', 'cell nodata');
      cell.type = 'button';
      cell.dataset.channel = String(channel + 1);
      cell.append(element('span', 'cell-number', channel + 1));
      const value = element('span', 'cell-value', '–');
      cell.append(value);
      const bar = element('span', 'cell-bar');
      cell.append(bar);
      cell.addEventListener('click', () => {
        state.channel = channel;
        renderChannel();
        showView('channel-view');
      });
      grid.append(cell);
      cells.push({ cell, value, bar, shown: -2 });
    }
  }

  function renderCell(channel) {
    const level = state.levels[channel];
    const entry = cells[channel];
    entry.value.textContent = levelText(level);
    entry.bar.style.height = (level < 0 ? 0 : level * 100 / HighestLevel) + '%';
    entry.cell.classList.toggle('nodata', level < 0);
    // The levels that are up stand out from the dark ones.
    entry.cell.classList.toggle('zero', level === 0);
    entry.shown = level;
  }

  function renderGrid() {
    for (let channel = 0; channel < Channels; ++channel)
      renderCell(channel);
  }

  function universeTitle() {
    const entry = followedEntry();
    if (entry)
      return String(entry.label);
    if (state.followed)
      return (state.followed.p === 'sacn' ? 'sACN ' : 'Art-Net ') + state.followed.u;
    return 'Choose a universe in the list';
  }

  function renderChannel() {
    byId('levels-universe').textContent = universeTitle();
    byId('channel-universe').textContent = universeTitle();
    byId('channel-name').textContent = 'Channel ' + (state.channel + 1);
    const level = byId('channel-level');
    level.textContent = levelText(state.followed ? state.levels[state.channel] : -1);
    level.classList.toggle('changed',
                           performance.now() - state.changedAt[state.channel] < ChangeMarkMs);
    const entry = followedEntry();
    const sources = (entry && entry.sources) || [];
    const live = sources.filter((source) => source.live !== false);
    const items = (live.length ? live : sources).map(
        (source) => element('li', null, 'from ' + sourceText(source)));
    byId('channel-sources').replaceChildren(...items);
  }

  function stepChannel(step) {
    state.channel = (state.channel + step + Channels) % Channels;
    renderChannel();
  }

  function setMode(mode) {
    state.mode = mode;
    for (const button of document.querySelectorAll('.mode'))
      button.setAttribute('aria-checked', String(button.dataset.mode === mode));
    byId('grid').classList.toggle('bar-mode', mode === 'bar');
    renderGrid();
    renderChannel();
  }

  // Marks fade after a moment; one timer for all cells.
  function clearChangeMarks() {
    const now = performance.now();
    for (let channel = 0; channel < Channels; ++channel) {
      if (state.changedAt[channel] && now - state.changedAt[channel] >= ChangeMarkMs) {
        state.changedAt[channel] = 0;
        cells[channel].cell.classList.remove('changed');
      }
    }
    if (!state.changedAt[state.channel])
      byId('channel-level').classList.remove('changed');
  }

  // ------------------------------------------------------------------------------------------
  // Messages

  function setLevel(channel, value, now) {
    if (!Number.isInteger(channel) || channel < 0 || channel >= Channels)
      return;
    const level = Math.max(0, Math.min(HighestLevel, Number(value) | 0));
    if (state.levels[channel] === level)
      return;
    const first = state.levels[channel] < 0;
    state.levels[channel] = level;
    if (!first) {
      state.changedAt[channel] = now;
      cells[channel].cell.classList.add('changed');
    }
    renderCell(channel);
  }

  function onLevels(message) {
    if (!sameUniverse(message, state.followed))
      return;
    const now = performance.now();
    if (Array.isArray(message.full)) {
      for (let channel = 0; channel < Channels; ++channel)
        setLevel(channel, channel < message.full.length ? message.full[channel] : 0, now);
    } else if (Array.isArray(message.ch)) {
      for (const change of message.ch) {
        if (Array.isArray(change))
          setLevel(change[0], change[1], now);
      }
    }
    renderChannel();
  }

  function eventItem(event) {
    const item = element('li', 'event');
    item.append(element('span', 'event-time', event.time));
    item.append(element('span', 'event-kind', event.kind));
    item.append(document.createTextNode(String(event.text || '')));
    const where = [event.universe, event.source].filter((part) => part).map(String).join(' · ');
    if (where)
      item.append(element('span', 'event-where', where));
    return item;
  }

  function onEvents(list) {
    const events = byId('events');
    // Newest first, as a phone is read from the top.
    for (const event of list) {
      events.prepend(eventItem(event));
      ++state.eventCount;
    }
    while (events.children.length > EventsKept)
      events.lastElementChild.remove();
    byId('events-empty').hidden = state.eventCount > 0 || byId('alarms').children.length > 0;
  }

  function onAlarms(list) {
    const items = list.map((alarm) => {
      const item = element('li', 'alarm');
      item.append(element('span', 'event-time', alarm.time));
      item.append(document.createTextNode(String(alarm.text || '')));
      return item;
    });
    byId('alarms').replaceChildren(...items);
    byId('alarm-mark').hidden = items.length === 0;
    byId('events-empty').hidden = state.eventCount > 0 || items.length > 0;
  }

  function onTimecode(list) {
    const items = list.map((sender) => {
      const item = element('li');
      item.append(element('span', 'tc-value', sender.tc));
      item.append(element('span', 'tc-sender', String(sender.sender || '') + ' · '
                                                  + String(sender.type || '')));
      return item;
    });
    byId('timecode').replaceChildren(...items);
    byId('timecode-empty').hidden = items.length > 0;
  }

  function onMessage(text) {
    let message;
    try {
      message = JSON.parse(text);
    } catch (error) {
      return;
    }
    if (!message || typeof message !== 'object')
      return;
    switch (message.t) {
    case 'hello':
      byId('title').textContent = String(message.program || 'Vardolux');
      break;
    case 'universes':
      if (Array.isArray(message.list)) {
        state.universes = message.list;
        renderUniverses();
      }
      break;
    case 'levels':
      onLevels(message);
      break;
    case 'timecode':
      if (Array.isArray(message.list))
        onTimecode(message.list);
      break;
    case 'events':
      if (Array.isArray(message.list))
        onEvents(message.list);
      break;
    case 'alarms':
      if (Array.isArray(message.list))
        onAlarms(message.list);
      break;
    default:
      break;
    }
  }

  // ------------------------------------------------------------------------------------------
  // Connection

  function sendFollow() {
    if (state.connected && state.followed)
      state.socket.send(JSON.stringify({ t: 'follow', p: state.followed.p,
                                         u: Number(state.followed.u) }));
  }

  function follow(protocol, universe) {
    if (!sameUniverse(state.followed, { p: protocol, u: universe })) {
      state.followed = { p: protocol, u: Number(universe) };
      state.levels.fill(-1);
      state.changedAt.fill(0);
      for (const entry of cells)
        entry.cell.classList.remove('changed');
      renderGrid();
      sendFollow();
    }
    renderUniverses();
    showView('levels-view');
  }

  function connect() {
    const scheme = window.location.protocol === 'https:' ? 'wss:' : 'ws:';
    const socket = new WebSocket(scheme + '//' + window.location.host + '/live?t='
                                 + encodeURIComponent(token));
    state.socket = socket;
    socket.addEventListener('open', () => {
      state.connected = true;
      state.reconnectMs = ReconnectFirstMs;
      setStatus('Live', 'live');
      sendFollow();
    });
    socket.addEventListener('message', (event) => {
      if (typeof event.data === 'string')
        onMessage(event.data);
    });
    socket.addEventListener('close', () => {
      if (state.socket !== socket)
        return;
      state.connected = false;
      state.socket = null;
      const seconds = Math.round(state.reconnectMs / 1000);
      setStatus('Connection lost, trying again in ' + seconds + ' s', 'lost');
      window.setTimeout(connect, state.reconnectMs);
      state.reconnectMs = Math.min(ReconnectLastMs, state.reconnectMs * 2);
    });
  }

  function start() {
    createGrid();
    for (const tab of document.querySelectorAll('.tab'))
      tab.addEventListener('click', () => showView(tab.dataset.view));
    for (const button of document.querySelectorAll('.mode'))
      button.addEventListener('click', () => setMode(button.dataset.mode));
    byId('channel-down').addEventListener('click', () => stepChannel(-1));
    byId('channel-up').addEventListener('click', () => stepChannel(1));
    window.setInterval(clearChangeMarks, ChangeMarkMs / 4);
    renderChannel();
    connect();
  }

  if (document.readyState === 'loading')
    document.addEventListener('DOMContentLoaded', start);
  else
    start();
})();
