#include "service/pageAssets.h"

#include "run/utility.h"

namespace {

const char* const PAGE_HTML = R"html(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Pronunciation assessment</title>
<link rel="icon" href="data:,">
<link rel="stylesheet" href="/style.css">
</head>
<body>
<main>
  <h1>Pronunciation assessment</h1>
  <p id="server-info" class="muted">Connecting to the server&hellip;</p>

  <section class="card" aria-labelledby="sentence-label">
    <label id="sentence-label" for="sentence">1. The sentence to read aloud</label>
    <input id="sentence" type="text" autocomplete="off" spellcheck="false" placeholder="Type a sentence">
    <div id="examples" class="examples" role="group" aria-label="Example sentences"></div>
  </section>

  <section class="card" aria-labelledby="recording-label">
    <span id="recording-label" class="label">2. Your recording</span>
    <div class="row">
      <button id="record" type="button">Record</button>
      <button id="stop" type="button" disabled>Stop</button>
      <span id="record-status" role="status"></span>
    </div>
    <div class="row">
      <label for="file" class="inline">or choose a file (WAV, FLV, or raw 16-bit 16 kHz):</label>
      <input id="file" type="file" accept=".wav,.flv,.raw,audio/wav,audio/x-wav,video/x-flv">
    </div>
    <audio id="playback" controls hidden></audio>
  </section>

  <section id="token-row" class="card" hidden>
    <label for="token">Access token</label>
    <input id="token" type="password" autocomplete="off">
  </section>

  <div class="row">
    <button id="send" type="button" class="primary" disabled>Send for assessment</button>
    <span id="send-status" role="status"></span>
  </div>

  <section id="error" class="error" role="alert" hidden></section>

  <section id="result" class="card" hidden aria-labelledby="result-label">
    <h2 id="result-label">Result</h2>
    <div class="overall">Overall score <strong id="overall-score"></strong></div>
    <p class="muted">Select a word to see its sounds.</p>
    <div id="words" class="words"></div>
    <div id="phones" class="phones" aria-live="polite"></div>
    <canvas id="timebar" height="64" role="img" aria-label="Where each word was found in the recording"></canvas>
    <ul id="warnings" class="warnings"></ul>
  </section>
</main>
<script src="/app.js"></script>
</body>
</html>
)html";

const char* const PAGE_STYLE = R"css(:root {
  --good: #1f883d; --good-bg: #dafbe1;
  --fair: #9a6700; --fair-bg: #fff1c2;
  --poor: #cf222e; --poor-bg: #ffe0e0;
  --none: #6e7781; --none-bg: #eaeef2;
  font-family: system-ui, -apple-system, "Segoe UI", Roboto, sans-serif;
  color: #1f2328; background: #f6f8fa;
}
body { margin: 0; }
main { max-width: 52rem; margin: 0 auto; padding: 1rem; }
h1 { font-size: 1.6rem; margin: 0.5rem 0; }
h2 { font-size: 1.2rem; margin: 0 0 0.5rem; }
.muted { color: #59636e; }
.card { background: #fff; border: 1px solid #d1d9e0; border-radius: 8px; padding: 1rem; margin: 0.8rem 0; }
label, .label { display: block; font-weight: 600; margin-bottom: 0.4rem; }
label.inline { display: inline; font-weight: normal; }
input[type=text], input[type=password] { width: 100%; box-sizing: border-box; font-size: 1.1rem; padding: 0.45rem; border: 1px solid #afb8c1; border-radius: 6px; }
.row { display: flex; flex-wrap: wrap; align-items: center; gap: 0.6rem; margin: 0.5rem 0; }
button { font-size: 1rem; padding: 0.4rem 0.9rem; border-radius: 6px; border: 1px solid #afb8c1; background: #f6f8fa; cursor: pointer; }
button:disabled { cursor: default; opacity: 0.5; }
button:focus-visible, input:focus-visible { outline: 3px solid #0969da; outline-offset: 2px; }
button.primary { background: #0969da; color: #fff; border-color: #0969da; }
#record.recording { background: var(--poor); color: #fff; border-color: var(--poor); }
.examples { display: flex; flex-wrap: wrap; gap: 0.4rem; margin-top: 0.5rem; }
.examples button { font-size: 0.9rem; padding: 0.2rem 0.6rem; }
.error { background: var(--poor-bg); border: 1px solid var(--poor); color: #82071e; border-radius: 8px; padding: 0.8rem 1rem; }
.overall { font-size: 1.2rem; }
.overall strong { font-size: 2rem; margin-left: 0.4rem; }
.words { display: flex; flex-wrap: wrap; gap: 0.4rem; margin: 0.6rem 0; }
.word { font-size: 1.2rem; border-width: 2px; }
.word small { font-size: 0.75rem; margin-left: 0.3rem; }
.word[aria-pressed=true] { box-shadow: 0 0 0 3px #0969da; }
.band-good { background: var(--good-bg); border-color: var(--good); color: #0f5323; }
.band-fair { background: var(--fair-bg); border-color: var(--fair); color: #6a4300; }
.band-poor { background: var(--poor-bg); border-color: var(--poor); color: #82071e; }
.band-none { background: var(--none-bg); border-color: var(--none); color: #424a53; }
.phones table { border-collapse: collapse; margin: 0.4rem 0; }
.phones th, .phones td { border: 1px solid #d1d9e0; padding: 0.25rem 0.6rem; text-align: left; }
#timebar { width: 100%; display: block; margin-top: 0.8rem; }
.warnings { color: #59636e; font-size: 0.9rem; }
)css";

const char* const PAGE_SCRIPT = R"js('use strict';
// The page of the assessment service: a sentence, a recording (microphone
// encoded here as 16 kHz 16-bit WAV, or a file), the answer of
// POST /v1/assess drawn as coloured words, their sounds and a time bar.
const GOOD_SCORE = @GOOD@;
const FAIR_SCORE = @FAIR@;
const TARGET_RATE = 16000;
const BAND_COLOURS = {
  good: ['#dafbe1', '#1f883d'], fair: ['#fff1c2', '#9a6700'],
  poor: ['#ffe0e0', '#cf222e'], none: ['#eaeef2', '#6e7781'],
};

const $ = (id) => document.getElementById(id);
const state = { audio: null, audioName: '', format: '', recorder: null, maxSeconds: 60, result: null, selected: -1 };

function bandOf(score) {
  if (typeof score !== 'number' || score < 0) return 'none';
  if (score >= GOOD_SCORE) return 'good';
  if (score >= FAIR_SCORE) return 'fair';
  return 'poor';
}

function showError(text) {
  const box = $('error');
  box.textContent = text;
  box.hidden = !text;
}

function authHeaders() {
  const token = $('token').value.trim();
  return token ? { Authorization: 'Bearer ' + token } : {};
}

// The answer of a failed request in plain words.
function plainError(status, body) {
  const error = (body && body.error) || {};
  const message = error.message || '';
  switch (error.code) {
    case 'unknown_words':
      return 'These words are not in the dictionary of this server: ' + (error.words || []).join(', ') +
             '. Please use other words.';
    case 'missing_text': return 'Please type the sentence you read first.';
    case 'invalid_text': return 'The sentence cannot be used: ' + message + '.';
    case 'missing_audio': return 'Please record yourself or choose a recording first.';
    case 'unreadable_audio': return 'The recording could not be read (' + message + ').';
    case 'unsupported_audio_format':
      return 'This kind of recording is not supported (' + message + '). Please use a WAV file.';
    case 'audio_too_long': case 'body_too_large':
      return 'The recording is too long for this server. Please record a shorter one.';
    case 'too_many_pronunciations': case 'too_many_texts': case 'text_too_long':
      return 'The sentence is too long to assess. Please use a shorter one.';
    case 'unprocessable':
      return 'The recording could not be assessed against this sentence (' + message + ').';
    case 'busy': return 'The server is busy right now. Please try again in a moment.';
    case 'unauthorized':
      $('token-row').hidden = false;
      return 'This server needs an access token. Please enter it above and send again.';
  }
  if (status >= 500) return 'The server failed to assess the recording. Please try again later.';
  return 'The request failed (' + status + (message ? ': ' + message : '') + ').';
}

async function loadInfo() {
  try {
    const response = await fetch('/v1/info', { headers: authHeaders() });
    const body = await response.json().catch(() => null);
    if (!response.ok) {
      $('server-info').textContent = plainError(response.status, body);
      return;
    }
    state.maxSeconds = body.limits && body.limits.maxSeconds ? body.limits.maxSeconds : 60;
    $('server-info').textContent = 'Language: ' + body.language + ', ' + body.modelCount +
      ' models, recordings up to ' + state.maxSeconds + ' s.';
    const examples = $('examples');
    examples.textContent = '';
    for (const text of (body.examples || []).slice(0, 6)) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = text;
      button.addEventListener('click', () => { $('sentence').value = text; updateSend(); });
      examples.appendChild(button);
    }
  } catch (e) {
    $('server-info').textContent = 'Could not reach the server.';
  }
}

function updateSend() {
  $('send').disabled = !state.audio || state.recorder !== null;
}

// Linear interpolation to the target rate, after averaging away what lies
// above the new Nyquist frequency when the rate falls.
function resample(samples, rate) {
  if (rate === TARGET_RATE) return samples;
  const ratio = rate / TARGET_RATE;
  let source = samples;
  if (ratio > 1) {
    const width = Math.ceil(ratio);
    source = new Float32Array(samples.length);
    let sum = 0;
    for (let i = 0; i < samples.length; i++) {
      sum += samples[i];
      if (i >= width) sum -= samples[i - width];
      source[i] = sum / Math.min(i + 1, width);
    }
  }
  const out = new Float32Array(Math.floor(samples.length / ratio));
  for (let i = 0; i < out.length; i++) {
    const at = i * ratio, k = Math.floor(at), f = at - k;
    const a = source[k], b = k + 1 < source.length ? source[k + 1] : a;
    out[i] = a + (b - a) * f;
  }
  return out;
}

// A mono 16-bit PCM RIFF WAVE file of the samples (full scale 1.0).
function encodeWav(samples, rate) {
  const buffer = new ArrayBuffer(44 + samples.length * 2);
  const view = new DataView(buffer);
  const text = (at, s) => { for (let i = 0; i < s.length; i++) view.setUint8(at + i, s.charCodeAt(i)); };
  text(0, 'RIFF'); view.setUint32(4, 36 + samples.length * 2, true); text(8, 'WAVE');
  text(12, 'fmt '); view.setUint32(16, 16, true); view.setUint16(20, 1, true); view.setUint16(22, 1, true);
  view.setUint32(24, rate, true); view.setUint32(28, rate * 2, true); view.setUint16(32, 2, true);
  view.setUint16(34, 16, true);
  text(36, 'data'); view.setUint32(40, samples.length * 2, true);
  for (let i = 0; i < samples.length; i++) {
    const s = Math.max(-1, Math.min(1, samples[i]));
    view.setInt16(44 + i * 2, s < 0 ? Math.round(s * 32768) : Math.round(s * 32767), true);
  }
  return new Blob([buffer], { type: 'audio/wav' });
}

async function startRecording() {
  showError('');
  if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
    showError('This browser cannot record here (the microphone needs https or localhost). Please choose a file.');
    return;
  }
  let stream;
  try {
    stream = await navigator.mediaDevices.getUserMedia({
      audio: { channelCount: 1, echoCancellation: false, noiseSuppression: false, autoGainControl: false } });
  } catch (e) {
    showError('The microphone could not be opened (' + e.message + '). Please allow it or choose a file.');
    return;
  }
  let context;
  try {
    context = new AudioContext({ sampleRate: TARGET_RATE });
  } catch (e) {
    context = new AudioContext();
  }
  const source = context.createMediaStreamSource(stream);
  const processor = context.createScriptProcessor(4096, 1, 1);
  const mute = context.createGain();
  mute.gain.value = 0;
  const chunks = [];
  processor.onaudioprocess = (event) => chunks.push(new Float32Array(event.inputBuffer.getChannelData(0)));
  source.connect(processor);
  processor.connect(mute);
  mute.connect(context.destination);
  const started = performance.now();
  const timer = setInterval(() => {
    const seconds = (performance.now() - started) / 1000;
    $('record-status').textContent = 'Recording… ' + seconds.toFixed(1) + ' s';
    if (seconds >= state.maxSeconds - 1) stopRecording();
  }, 100);
  state.recorder = { stream, context, source, processor, chunks, timer };
  $('record').disabled = true;
  $('record').classList.add('recording');
  $('stop').disabled = false;
  updateSend();
}

async function stopRecording() {
  const r = state.recorder;
  if (!r) return;
  clearInterval(r.timer);
  r.source.disconnect();
  r.processor.disconnect();
  r.stream.getTracks().forEach((track) => track.stop());
  const rate = r.context.sampleRate;
  await r.context.close();
  let length = 0;
  for (const chunk of r.chunks) length += chunk.length;
  const samples = new Float32Array(length);
  let at = 0;
  for (const chunk of r.chunks) { samples.set(chunk, at); at += chunk.length; }
  const wave = resample(samples, rate);
  state.recorder = null;
  state.audio = encodeWav(wave, TARGET_RATE);
  state.audioName = 'recording.wav';
  state.format = '';
  $('file').value = '';
  $('playback').src = URL.createObjectURL(state.audio);
  $('playback').hidden = false;
  $('record-status').textContent = 'Recorded ' + (wave.length / TARGET_RATE).toFixed(1) + ' s';
  $('record').disabled = false;
  $('record').classList.remove('recording');
  $('stop').disabled = true;
  updateSend();
}

function chooseFile() {
  const file = $('file').files[0];
  if (!file) return;
  showError('');
  state.audio = file;
  state.audioName = file.name;
  state.format = /\.raw$/i.test(file.name) ? 'raw' : '';
  $('playback').hidden = true;
  $('record-status').textContent = 'Chosen: ' + file.name;
  updateSend();
}

async function send() {
  showError('');
  const text = $('sentence').value.trim();
  if (!text) { showError(plainError(400, { error: { code: 'missing_text' } })); return; }
  if (!state.audio) { showError(plainError(400, { error: { code: 'missing_audio' } })); return; }
  const form = new FormData();
  form.append('text', text);
  if (state.format) form.append('format', state.format);
  form.append('audio', state.audio, state.audioName || 'recording.wav');
  $('send').disabled = true;
  $('send-status').textContent = 'Assessing…';
  try {
    const response = await fetch('/v1/assess', { method: 'POST', body: form, headers: authHeaders() });
    const body = await response.json().catch(() => null);
    if (!response.ok || !body) {
      $('result').hidden = true;
      showError(plainError(response.status, body));
      return;
    }
    showResult(body);
  } catch (e) {
    showError('Could not reach the server. Please check your connection and try again.');
  } finally {
    $('send-status').textContent = '';
    updateSend();
  }
}

function scoreText(score) {
  return typeof score === 'number' && score >= 0 ? String(Math.round(score)) : '–';
}

function showResult(doc) {
  state.result = doc;
  state.selected = -1;
  $('result').hidden = false;
  $('overall-score').textContent = scoreText(doc.score);
  $('overall-score').className = 'band-' + bandOf(doc.score);
  const words = $('words');
  words.textContent = '';
  $('phones').textContent = '';
  (doc.words || []).forEach((word, index) => {
    if (!word.text) return;
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'word band-' + bandOf(word.score);
    button.dataset.index = String(index);
    button.dataset.band = bandOf(word.score);
    button.setAttribute('aria-pressed', 'false');
    button.setAttribute('aria-label', word.text + ', score ' + scoreText(word.score));
    button.append(word.text);
    const small = document.createElement('small');
    small.textContent = scoreText(word.score);
    button.appendChild(small);
    button.addEventListener('click', () => selectWord(index));
    button.addEventListener('focus', () => selectWord(index));
    words.appendChild(button);
  });
  const warnings = $('warnings');
  warnings.textContent = '';
  for (const w of doc.warnings || []) {
    const item = document.createElement('li');
    item.textContent = w;
    warnings.appendChild(item);
  }
  drawTimeBar();
}

function selectWord(index) {
  const doc = state.result;
  if (!doc || state.selected === index) return;
  state.selected = index;
  for (const b of $('words').querySelectorAll('.word'))
    b.setAttribute('aria-pressed', b.dataset.index === String(index) ? 'true' : 'false');
  const word = doc.words[index];
  const panel = $('phones');
  panel.textContent = '';
  const title = document.createElement('p');
  title.textContent = '“' + word.text + '” (' + word.start.toFixed(2) + '–' + word.end.toFixed(2) + ' s): sounds';
  panel.appendChild(title);
  const table = document.createElement('table');
  const head = table.insertRow();
  for (const h of ['Sound', 'Score', 'Sounds like']) {
    const th = document.createElement('th');
    th.textContent = h;
    head.appendChild(th);
  }
  for (const phone of word.phones || []) {
    const row = table.insertRow();
    row.className = 'band-' + bandOf(phone.score);
    row.insertCell().textContent = phone.phone;
    row.insertCell().textContent = scoreText(phone.score);
    row.insertCell().textContent = phone.soundsLike ? phone.soundsLike : '(itself)';
  }
  panel.appendChild(table);
  drawTimeBar();
}

// The recording as a bar, each word a block where it was found.
function drawTimeBar() {
  const doc = state.result;
  const canvas = $('timebar');
  if (!doc) return;
  const ratio = window.devicePixelRatio || 1;
  const width = canvas.clientWidth || 600, height = 64;
  canvas.width = Math.round(width * ratio);
  canvas.height = Math.round(height * ratio);
  const g = canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, width, height);
  g.fillStyle = '#eaeef2';
  g.fillRect(0, 8, width, 32);
  const total = doc.wave && doc.wave.seconds > 0 ? doc.wave.seconds : 1;
  const x = (t) => Math.max(0, Math.min(width, (t / total) * width));
  g.font = '12px system-ui, sans-serif';
  g.textBaseline = 'middle';
  (doc.words || []).forEach((word, index) => {
    if (!word.text) return;
    const colours = BAND_COLOURS[bandOf(word.score)];
    const left = x(word.start), right = x(word.end);
    g.fillStyle = colours[0];
    g.fillRect(left, 8, Math.max(1, right - left), 32);
    g.strokeStyle = colours[1];
    g.lineWidth = index === state.selected ? 3 : 1;
    g.strokeRect(left + 0.5, 8.5, Math.max(1, right - left - 1), 31);
    const label = word.text;
    if (g.measureText(label).width + 4 < right - left) {
      g.fillStyle = '#1f2328';
      g.fillText(label, left + 3, 24);
    }
  });
  g.fillStyle = '#59636e';
  g.textBaseline = 'alphabetic';
  g.fillText('0 s', 0, 58);
  const end = total.toFixed(1) + ' s';
  g.fillText(end, width - g.measureText(end).width, 58);
}

$('record').addEventListener('click', startRecording);
$('stop').addEventListener('click', stopRecording);
$('file').addEventListener('change', chooseFile);
$('send').addEventListener('click', send);
$('sentence').addEventListener('keydown', (e) => { if (e.key === 'Enter' && !$('send').disabled) send(); });
$('token').addEventListener('change', loadInfo);
window.addEventListener('resize', drawTimeBar);
loadInfo();
)js";

std::string scriptWithBands() {
    std::string script = replaceAll(PAGE_SCRIPT, "@GOOD@", formatString("%g", PAGE_GOOD_SCORE));
    return replaceAll(script, "@FAIR@", formatString("%g", PAGE_FAIR_SCORE));
}

}  // namespace

const std::vector<pageAsset>& pageAssets() {
    static const std::vector<pageAsset> assets = {
        {"/", "text/html; charset=utf-8", PAGE_HTML},
        {"/index.html", "text/html; charset=utf-8", PAGE_HTML},
        {"/style.css", "text/css; charset=utf-8", PAGE_STYLE},
        {"/app.js", "text/javascript; charset=utf-8", scriptWithBands()},
    };
    return assets;
}
