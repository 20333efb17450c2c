"use strict";
// The phone remote. The list shows only the rows in view: pages of rows are
// fetched as they scroll in, and a new list version or search drops them.
const ROW_HEIGHT = 56;
const PAGE = 100;
const SPARE_ROWS = 8;
const $ = (id) => document.getElementById(id);
const list = $("list");

let state = null;
let stateAt = 0;
let version = -1;
let awaited = -1;
let query = "";
let generation = 0;
let total = 0;
let pages = new Map();
const asked = new Set();
const shown = new Map();
let seeking = false;
let sliding = false;

function time(ms) {
  const seconds = Math.max(0, Math.floor(ms / 1000));
  return Math.floor(seconds / 60) + ":" + String(seconds % 60).padStart(2, "0");
}

function say(text) {
  $("banner").textContent = text;
  $("banner").hidden = !text;
}

function notPaired() {
  say("This phone is not paired any more. Scan the code on the server again.");
}

async function call(path, body) {
  const init = body === undefined ? {} :
    { method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body) };
  const reply = await fetch(path, init);
  if (reply.status === 403) notPaired();
  if (reply.status === 409) restartList();
  if (!reply.ok) throw new Error(path + ": " + reply.status);
  return reply.json();
}

function send(path, body) {
  call(path, body).then(show, () => {});
}

function elapsed() {
  if (!state) return 0;
  const running = state.state === "playing" ? Date.now() - stateAt : 0;
  return Math.min(state.position + running, state.duration || Infinity);
}

function tick() {
  $("elapsed").textContent = time(elapsed());
  if (!seeking) $("seek").value = elapsed();
}

// "artist · album", either left out when the tags say nothing of it.
function byline(track) {
  return [track.artist, track.album].filter(Boolean).join(" · ");
}

function show(next) {
  state = next;
  stateAt = Date.now();
  $("title").textContent = state.title || "Nothing playing";
  $("artist").textContent = state.artist || "";
  $("album").textContent = state.album || "";
  if (state.art) {
    if ($("cover").getAttribute("src") !== state.art) $("cover").src = state.art;
    $("cover").hidden = false;
  } else {
    $("cover").hidden = true;
    $("cover").removeAttribute("src");
  }
  const reading = state.indexing && state.indexing.running;
  $("indexing").hidden = !reading;
  if (reading) {
    const grouped = (n) => n.toLocaleString("en-US");
    $("indexing").textContent = "Reading tags: " + grouped(state.indexing.done) + " of " + grouped(state.indexing.total);
  }
  $("state").textContent = state.state[0].toUpperCase() + state.state.slice(1);
  document.body.className = state.state;
  $("client").hidden = !state.client;
  $("total").textContent = time(state.duration);
  $("seek").max = state.duration;
  if (!sliding) $("volume").value = state.volume;
  $("shuffle").checked = state.shuffle;
  $("replaygain").value = state.replaygain;
  $("nosound").hidden = state.soundOutput !== false;
  tick();
  if (state.version !== version && state.version !== awaited) {
    awaited = state.version;
    restartList();
  }
  for (const [, row] of shown) row.classList.toggle("current", Number(row.dataset.index) === state.index);
}

function restartList() {
  generation++;
  pages = new Map();
  asked.clear();
  fetchPage(0);
}

async function fetchPage(page) {
  if (asked.has(page)) return;
  asked.add(page);
  const mine = generation;
  const url = "/api/tracks?offset=" + page * PAGE + "&limit=" + PAGE + "&q=" + encodeURIComponent(query);
  let reply;
  try {
    reply = await call(url);
  } catch (error) {
    asked.delete(page);
    return;
  }
  if (mine !== generation) return;
  if (reply.version !== version) {
    version = reply.version;
    pages = new Map();
    asked.clear();
    asked.add(page);
  }
  pages.set(page, reply.rows);
  total = reply.total;
  $("spacer").style.height = total * ROW_HEIGHT + "px";
  $("empty").hidden = total > 0;
  clearRows();
  render();
}

function clearRows() {
  for (const [, row] of shown) row.remove();
  shown.clear();
}

function render() {
  const first = Math.max(0, Math.floor(list.scrollTop / ROW_HEIGHT) - SPARE_ROWS);
  const last = Math.min(total, Math.ceil((list.scrollTop + list.clientHeight) / ROW_HEIGHT) + SPARE_ROWS);
  for (const [place, row] of shown) {
    if (place < first || place >= last) {
      row.remove();
      shown.delete(place);
    }
  }
  for (let place = first; place < last; place++) {
    if (shown.has(place)) continue;
    const rows = pages.get(Math.floor(place / PAGE));
    if (!rows) {
      fetchPage(Math.floor(place / PAGE));
      continue;
    }
    const track = rows[place % PAGE];
    if (!track) continue;
    const row = document.createElement("div");
    row.className = "row";
    row.setAttribute("role", "button");
    row.tabIndex = 0;
    row.dataset.index = track.index;
    row.style.transform = "translateY(" + place * ROW_HEIGHT + "px)";
    row.append(document.createElement("b"), document.createElement("small"));
    row.firstChild.textContent = track.title;
    row.lastChild.textContent = byline(track);
    row.classList.toggle("current", state !== null && track.index === state.index);
    list.append(row);
    shown.set(place, row);
  }
}

let framed = false;
list.addEventListener("scroll", () => {
  if (framed) return;
  framed = true;
  requestAnimationFrame(() => { framed = false; render(); });
});
window.addEventListener("resize", render);

function playRowOf(event) {
  const row = event.target.closest(".row");
  if (row) send("/api/play", { index: Number(row.dataset.index), version: version });
}
list.addEventListener("click", playRowOf);
list.addEventListener("keydown", (event) => { if (event.key === "Enter") playRowOf(event); });

let searchTimer = 0;
$("search").addEventListener("input", () => {
  clearTimeout(searchTimer);
  searchTimer = setTimeout(() => {
    query = $("search").value;
    list.scrollTop = 0;
    clearRows();
    restartList();
  }, 120);
});

for (const button of document.querySelectorAll("#buttons button")) {
  button.addEventListener("click", () => send("/api/control", { action: button.dataset.action }));
}
$("seek").addEventListener("input", () => { seeking = true; $("elapsed").textContent = time($("seek").value); });
$("seek").addEventListener("change", () => {
  seeking = false;
  send("/api/seek", { position: Number($("seek").value) });
});
$("volume").addEventListener("input", () => {
  sliding = true;
  send("/api/volume", { volume: Number($("volume").value) });
});
$("volume").addEventListener("change", () => { sliding = false; });
$("shuffle").addEventListener("change", () => send("/api/shuffle", { shuffle: $("shuffle").checked }));
$("replaygain").addEventListener("change", () =>
  call("/api/replaygain", { mode: $("replaygain").value }).catch(() => {}));

let retryMs = 500;
function listen() {
  const socket = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/api/events");
  socket.onopen = () => { retryMs = 500; say(""); };
  socket.onmessage = (event) => show(JSON.parse(event.data));
  socket.onclose = () => {
    say("Connection lost. Reconnecting…");
    call("/api/state").then(show, () => {});
    setTimeout(listen, retryMs);
    retryMs = Math.min(retryMs * 2, 5000);
  };
}

setInterval(() => { if (state && state.state === "playing") tick(); }, 500);
restartList();
listen();
