// Runs in the page: each WAV file of a folder of eqalign-pack fetched, decoded by the browser at the
// folder's rate as a listening-test program decodes it, and compared with the samples read from its own
// bytes; check.svg loaded as an image and as a document.
'use strict';

// Decoded samples are 32-bit floats: 16- and 24-bit steps and the float samples themselves are exact
// there, so this bound leaves room for one rounding of a value below 1 (2^-24 is 6e-8) and no more.
const SAMPLE_BOUND = 1e-7;

// The format and the samples of a WAV file, from its bytes: integers scaled by 1/32768 (16 bits) or
// 1/8388608 (24 bits), floats as they are. Chromium scales a positive 16-bit sample by 1/32767
// instead (Debian's chromium 156 does, its negative ones and 24-bit steps by the powers of two), which
// is 0.00027 dB louder; `alternative` holds that value, and a decoded sample may equal either.
function read_wav(buffer) {
  const v = new DataView(buffer);
  const id = (at) => String.fromCharCode(v.getUint8(at), v.getUint8(at + 1), v.getUint8(at + 2), v.getUint8(at + 3));
  if (v.byteLength < 12 || id(0) !== 'RIFF' || id(8) !== 'WAVE') throw new Error('not a RIFF WAVE file');
  let fmt = null;
  let data = null;
  for (let at = 12; at + 8 <= v.byteLength;) {
    const size = v.getUint32(at + 4, true);
    if (id(at) === 'fmt ') {
      fmt = { tag: v.getUint16(at + 8, true), channels: v.getUint16(at + 10, true),
              rate: v.getUint32(at + 12, true), bits: v.getUint16(at + 22, true) };
    }
    if (id(at) === 'data') data = { at: at + 8, size };
    at += 8 + size + (size & 1);
  }
  if (fmt === null || data === null || data.at + data.size > v.byteLength) throw new Error('no whole fmt and data chunks');
  const width = fmt.bits / 8;
  const frames = Math.floor(data.size / (width * fmt.channels));
  const channels = [];
  const alternative = [];
  for (let c = 0; c < fmt.channels; ++c) {
    channels.push(new Float64Array(frames));
    alternative.push(new Float64Array(frames));
  }
  for (let n = 0; n < frames; ++n) {
    for (let c = 0; c < fmt.channels; ++c) {
      const at = data.at + (n * fmt.channels + c) * width;
      let x;
      let y;
      if (fmt.tag === 3 && fmt.bits === 32) {
        x = y = v.getFloat32(at, true);
      } else if (fmt.tag === 1 && fmt.bits === 16) {
        const step = v.getInt16(at, true);
        x = step / 32768;
        y = step > 0 ? step / 32767 : x;
      } else if (fmt.tag === 1 && fmt.bits === 24) {
        x = y = ((v.getInt8(at + 2) << 16) | (v.getUint8(at + 1) << 8) | v.getUint8(at)) / 8388608;
      } else {
        throw new Error(`format ${fmt.tag} of ${fmt.bits} bits`);
      }
      channels[c][n] = x;
      alternative[c][n] = y;
    }
  }
  return { format: `${fmt.tag}/${fmt.bits}`, rate: fmt.rate, frames, channels, alternative };
}

async function fetch_bytes(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: HTTP ${response.status}`);
  return response.arrayBuffer();
}

// One WAV file: what the browser decoded against what the file holds.
async function check_wav(context, url) {
  const bytes = await fetch_bytes(url);
  const written = read_wav(bytes);
  // decodeAudioData takes the buffer over; it gets a copy.
  const audio = await context.decodeAudioData(bytes.slice(0));
  let largest = 0;
  let alternatives = 0;
  const channels = Math.min(audio.numberOfChannels, written.channels.length);
  for (let c = 0; c < channels; ++c) {
    const decoded = audio.getChannelData(c);
    const own = written.channels[c];
    const other = written.alternative[c];
    for (let n = 0; n < Math.min(decoded.length, own.length); ++n) {
      const d = Math.min(Math.abs(decoded[n] - own[n]), Math.abs(decoded[n] - other[n]));
      if (own[n] !== other[n] && Math.abs(decoded[n] - other[n]) < Math.abs(decoded[n] - own[n])) ++alternatives;
      // NaN counts as the largest of all.
      if (!(d <= largest)) largest = d;
    }
  }
  return { format: written.format, file_rate: written.rate, file_frames: written.frames,
           rate: audio.sampleRate, channels: audio.numberOfChannels, length: audio.length, largest, alternatives };
}

// check.svg as an <img> (how a page shows it) and parsed as an SVG document.
async function check_svg(url) {
  await new Promise((resolve, reject) => {
    const image = new Image();
    image.onload = () => (image.naturalWidth > 0 ? resolve() : reject(new Error('check.svg loaded with no size')));
    image.onerror = () => reject(new Error('check.svg did not load as an image'));
    image.src = url;
  });
  const text = new TextDecoder('utf-8', { fatal: true }).decode(await fetch_bytes(url));
  const doc = new DOMParser().parseFromString(text, 'image/svg+xml');
  if (doc.getElementsByTagName('parsererror').length > 0 || doc.documentElement.localName !== 'svg')
    throw new Error('check.svg is no SVG document: ' + doc.documentElement.textContent.slice(0, 200));
  if (doc.getElementsByTagName('script').length > 0) throw new Error('check.svg holds a script');
}

// Every WAV file of the folder at `base` (names in `files`), decoded at `rate`; returns what each gave,
// and the error of each that failed.
window.check_pack = async function (base, files, rate) {
  const context = new AudioContext({ sampleRate: rate });
  const results = {};
  for (const name of files) {
    try {
      results[name] = await check_wav(context, base + encodeURIComponent(name));
    } catch (e) {
      results[name] = { error: String(e) };
    }
  }
  await context.close();
  let svg = null;
  try {
    await check_svg(base + 'check.svg');
  } catch (e) {
    svg = String(e);
  }
  return { results, svg, bound: SAMPLE_BOUND };
};
