// The web pages in Debian's chromium, headless, drawing with SwiftShader:
// the picture, the log panel, the controls beside the canvas and the links
// to all three programs, a load with nothing logged as an error (WebGL's
// refusals included), the mouse buttons, a key and a drag, on both demo
// pages; the solver's state hash computed in the browser against the
// native build's for the same layout; and a Dear ImGui panel on a page of
// its own, drawn and used through the page's Win32 stand-in.
//
//   node tests/web/browser_test.mjs BUILD_WEB NATIVE_BUILD [SCREENSHOT_DIR]
//
// BUILD_WEB holds the pages (cmake --preset web), NATIVE_BUILD a native
// build with tests/web's layout-hash programs. Prints the frames per second
// and the step time measured in the browser.

import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [webDir, nativeDir, screenshotDir] = process.argv.slice(2);
if (!webDir || !nativeDir) {
  console.error('usage: browser_test.mjs BUILD_WEB NATIVE_BUILD [SCREENSHOT_DIR]');
  process.exit(2);
}
const HASH_PARTICLES = 3000;
const HASH_TICKS = 300;
const WAIT_MS = 90000;  // a loaded machine compiles and steps slowly

const types = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.svg': 'image/svg+xml'};

// The rows of packaging/controls.txt, input and effect, under the heading
// of the programs whose pages list them beside the canvas; a row that is
// "not in a browser" is on no page.
const controlsFile = new URL('../../packaging/controls.txt', import.meta.url);
const controls = {};
let controlRows = [];
for (const line of fs.readFileSync(controlsFile, 'utf8').split('\n')) {
  const heading = line.match(/^(\S.*): controls$/);
  const row = line.match(/^  (\S.*?)  +(\S.*)$/);
  if (heading) {
    controlRows = [];
    for (const name of heading[1].split(/, | and /)) controls[name] = controlRows;
  } else if (row && !row[2].endsWith('(not in a browser)')) {
    controlRows.push([row[1], row[2]]);
  }
}
for (const name of ['pondsim', 'pondsim-wide', 'pondsim-lab']) {
  const count = (controls[name] || []).length;
  if (count < 5) throw new Error(`only ${count} controls of ${name} in ${controlsFile.pathname}`);
}
const server = http.createServer((request, response) => {
  const file = path.join(webDir, path.normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)));
  fs.readFile(file, (error, data) => {
    if (error) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'Content-Type': types[path.extname(file)] || 'application/octet-stream'}).end(data);
  });
});
await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));
const base = `http://127.0.0.1:${server.address().port}`;

let failures = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures += 1;
}

// Pixels of the canvas outside the log panel: how many are black, how many
// have a particle's colour (no red, blue at least 0.3 and above green), and
// where the particle-coloured ones lie (centre and spread, in pixels).
async function picture(page) {
  const png = await page.screenshot({encoding: 'base64'});
  return page.evaluate(async png => {
    const image = new Image();
    image.src = 'data:image/png;base64,' + png;
    await image.decode();
    const surface = document.createElement('canvas');
    surface.width = image.width;
    surface.height = image.height;
    const context = surface.getContext('2d');
    context.drawImage(image, 0, 0);
    const data = context.getImageData(0, 0, image.width, image.height).data;
    const panel = document.getElementById('console').getBoundingClientRect();
    const window = document.getElementById('canvas').getBoundingClientRect();
    let black = 0, particle = 0, other = 0, sx = 0, sy = 0, sxx = 0, syy = 0;
    for (let y = Math.max(0, Math.ceil(window.top)); y < Math.min(image.height, window.bottom); ++y) {
      for (let x = Math.max(0, Math.ceil(window.left)); x < Math.min(image.width, window.right); ++x) {
        if (x >= panel.left && x < panel.right && y >= panel.top && y < panel.bottom) continue;
        const i = 4 * (y * image.width + x);
        const [r, g, b] = [data[i], data[i + 1], data[i + 2]];
        if (r + g + b === 0) {
          black += 1;
        } else if (r <= 8 && b >= 70 && b >= g) {
          particle += 1;
          sx += x; sy += y; sxx += x * x; syy += y * y;
        } else {
          other += 1;
        }
      }
    }
    const cx = sx / particle, cy = sy / particle;
    const spread = Math.sqrt(sxx / particle - cx * cx + syy / particle - cy * cy);
    return {black, particle, other, cx, cy, spread};
  }, png);
}

async function waitForPicture(page, test, what) {
  const deadline = Date.now() + WAIT_MS;
  let last = null;
  while (Date.now() < deadline) {
    last = await picture(page);
    if (test(last)) return last;
  }
  console.log(`     last picture: ${JSON.stringify(last)}`);
  return null;
}

const logLines = page => page.$eval('#console', panel => panel.textContent.split('\n').filter(line => line));

// The page's own rows of controls.txt beside the canvas, and a link to
// each of the three programs' pages.
async function checkControls(page, name) {
  const shown = await page.evaluate(() => {
    const box = element => element.getBoundingClientRect();
    const [panel, canvas] = [box(document.getElementById('controls')), box(document.getElementById('canvas'))];
    return {text: document.getElementById('controls').innerText.replace(/\s+/g, ' '),
            links: [...document.querySelectorAll('#controls a')].map(a => a.getAttribute('href')),
            beside: panel.width > 0 && panel.height > 0 && panel.right <= innerWidth && panel.bottom <= innerHeight &&
                    (panel.left >= canvas.right || panel.right <= canvas.left)};
  });
  const missing = controls[name].flat().filter(text => !shown.text.includes(text));
  check(shown.beside && missing.length === 0,
        `${name}: the controls of controls.txt beside the canvas, on the page ${missing.map(m => `(no "${m}")`).join(' ')}`);
  const unlinked = ['pondsim', 'pondsim-wide', 'pondsim-lab'].filter(other => !shown.links.includes(`${other}.html`));
  check(unlinked.length === 0, `${name}: links to the pages of all three programs ${unlinked.map(m => `(no ${m})`).join(' ')}`);
}

// A message the browser logs about a WebGL call it refused (Chromium's are
// warnings, "[.WebGL-...]GL_INVALID_ENUM: ..."): a fault, though not a
// script error.
const webglFault = text => /WebGL|GL_INVALID|INVALID_ENUM/.test(text);

async function checkPage(name) {
  const page = await browser.newPage();
  await page.setViewport({width: 800, height: 600});
  const errors = [], consoleErrors = [];
  page.on('pageerror', error => errors.push(String(error)));
  page.on('console', message => {
    if (message.type() === 'error' || webglFault(message.text())) {
      consoleErrors.push(`${message.text()} (${message.location().url})`);
    }
  });
  await page.goto(`${base}/${name}.html`);
  await page.waitForFunction(() => document.getElementById('console').textContent.includes('Allocating 3000 particles'),
                             {timeout: WAIT_MS}).catch(() => null);
  check(await page.title() === 'Smoothed Particle Hydrodynamics', `${name}: the page's title is the window's`);
  check(JSON.stringify(await logLines(page)) === '["Allocating 3000 particles"]',
        `${name}: the log panel starts with the set-up's allocation line alone`);

  const first = await waitForPicture(page, p => p.particle > 2000 && p.black > 0.5 * (p.black + p.particle + p.other) &&
                                                p.other < 0.01 * (p.black + p.particle + p.other),
                                     'particles on black');
  check(first !== null, `${name}: particle colours on black`);
  check(consoleErrors.length === 0, `${name}: nothing logged as an error on load ${consoleErrors.join('; ')}`);
  await checkControls(page, name);
  if (screenshotDir) {
    fs.mkdirSync(screenshotDir, {recursive: true});
    await page.screenshot({path: path.join(screenshotDir, `web-${name}.png`)});
  }

  const frames0 = await page.evaluate(() => Module.pondsimFrames);
  const started = Date.now();
  await new Promise(resolve => setTimeout(resolve, 3000));
  const fps = ((await page.evaluate(() => Module.pondsimFrames)) - frames0) * 1000 / (Date.now() - started);
  console.log(`     ${name}: ${fps.toFixed(1)} frames per second shown`);

  const lineCount = count => page.waitForFunction(
      count => document.getElementById('console').textContent.split('\n').length >= count, {timeout: WAIT_MS}, count)
    .catch(() => null);
  await page.mouse.click(400, 300, {button: 'right'});
  await lineCount(2);
  await page.mouse.click(400, 300, {button: 'middle'});
  await lineCount(3);
  check(JSON.stringify(await logLines(page)) ===
          '["Allocating 3000 particles","Allocating 3100 particles","Allocating 3000 particles"]',
        `${name}: a right click allocates 3100 particles and a middle click 3000 again`);

  const before = await picture(page);
  await page.keyboard.down('ArrowUp');
  const nearer = await waitForPicture(page, p => p.spread > 1.3 * before.spread, 'wider spread');
  await page.keyboard.up('ArrowUp');
  check(nearer !== null, `${name}: holding the up arrow widens the particles' spread`);

  const still = await picture(page);
  await page.mouse.move(400, 300);
  await page.mouse.down();
  let turned = null;
  for (let step = 1; step <= 200 && turned === null; ++step) {
    await page.mouse.move(400 + 5 * (step % 20), 300);
    const now = await picture(page);
    if (Math.abs(now.cx - still.cx) > 60) turned = now;
  }
  await page.mouse.up();
  check(turned !== null, `${name}: a left drag moves the particles' centre`);
  check(errors.length === 0, `${name}: no script errors ${errors.join('; ')}`);
  await page.close();
}

// A failed class registration shows its message box as a dialog on the
// page, and the program waits there until it is dismissed.
async function checkMessageBox(name) {
  const page = await browser.newPage();
  await page.goto(`${base}/${name}.html?PONDSIM_FAIL=RegisterClassA`);
  const shown = await page.waitForSelector('#message-box[open]', {timeout: WAIT_MS}).catch(() => null);
  const box = shown && await page.$eval('#message-box', box => [box.querySelector('h1').textContent,
                                                                  box.querySelector('p').textContent]);
  if (shown) await page.click('#message-box button');
  const closed = await page.waitForSelector('#message-box:not([open])', {timeout: WAIT_MS}).then(() => true, () => false);
  check(JSON.stringify(box) === '["WinMain","Unable to register window class."]' && closed &&
          await page.title() === 'pondsim',
        `${name}: a failed class registration shows "Unable to register window class." in a dialog until OK, ` +
        'and no window follows');
  await page.close();
}

async function checkHash(name) {
  const native = execFileSync(path.join(nativeDir, 'tests', 'web', `${name}-layout-hash`),
                              [String(HASH_PARTICLES), String(HASH_TICKS)]).toString().trim().split('\n').pop();
  const page = await browser.newPage();
  await page.goto(`${base}/index.html`);
  await page.addScriptTag({url: `${base}/test/${name}-layout-hash.js`});
  const factory = name.replaceAll('-', '_') + '_layout_hash';
  const web = await page.evaluate(async (factory, particles, ticks) => {
    const module = await window[factory]();
    const started = performance.now();
    const hash = module.ccall('pondsim_layout_hash', 'string', ['number', 'number'], [particles, ticks]);
    return {hash, msPerTick: (performance.now() - started) / ticks};
  }, factory, HASH_PARTICLES, HASH_TICKS);
  console.log(`     ${name}: ${web.msPerTick.toFixed(2)} ms a tick in the browser (${HASH_PARTICLES} particles, ` +
              `mean of ${HASH_TICKS}, reseed included)`);
  check(web.hash === native && /^[0-9a-f]{16}$/.test(native),
        `${name}: state hash after ${HASH_TICKS} ticks, browser ${web.hash}, native ${native}`);
  await page.close();
}

// Dear ImGui's panel on a page of its own (tests/web/imgui_probe.cpp): drawn
// where the window is and nowhere else, text in glyphs, the slider's grab;
// then fed through the page's stand-in of the Win32 subset: a drag and a
// Ctrl+click with a typed number set the slider, and the wheel arrives.
// ImGui 1.86 looks at the buttons and keys once a frame, so a press is held
// for a few frames before its release.
async function checkImGuiProbe() {
  const page = await browser.newPage();
  await page.setViewport({width: 800, height: 600});
  const lines = [];
  page.on('console', message => lines.push(message.text()));
  const errors = [];
  page.on('pageerror', error => errors.push(String(error)));
  await page.goto(`${base}/test/imgui-probe.html`);
  const printed = async pattern => {
    const deadline = Date.now() + WAIT_MS;
    while (Date.now() < deadline) {
      const found = lines.find(line => pattern.test(line));
      if (found) return found.split(' ').slice(1).map(word => Number(word.replace(/^\w+=/, '')));
      await new Promise(resolve => setTimeout(resolve, 100));
    }
    console.log(`     imgui-probe printed: ${JSON.stringify(lines.slice(-5))}`);
    return null;
  };
  const frames = async count => {
    const start = await page.evaluate(() => Module.pondsimFrames || 0);
    await page.waitForFunction(until => (Module.pondsimFrames || 0) >= until, {timeout: WAIT_MS}, start + count)
      .catch(() => null);
  };

  const panel = await printed(/^panel /);
  const [inside, changed, outside, untouched, white, line, grab, fits] = panel || [];
  check(panel !== null && fits === 1 && changed === inside && untouched === outside && white > line / 50 &&
          white < line / 4 && grab > 50,
        `imgui-probe: the panel covers its window and nothing else, with glyphs and the slider's grab ` +
        `(${panel && panel.join(' ')})`);

  const slider = await printed(/^slider /);
  if (slider !== null) {
    const [x0, y0, x1, y1] = slider;
    const y = (y0 + y1) / 2;
    await page.mouse.move((x0 + x1) / 2, y);
    await frames(2);
    await page.mouse.down();
    await frames(2);
    await page.mouse.move(x1 + 40, y, {steps: 4});
    await frames(2);
    await page.mouse.up();
    check(await printed(/^value 1\.000$/) !== null, 'imgui-probe: a drag to the right sets the slider to its maximum');

    await page.mouse.move((x0 + x1) / 2, y);
    await page.keyboard.down('Control');
    await frames(2);
    await page.mouse.down();
    await frames(2);
    await page.mouse.up();
    await page.keyboard.up('Control');
    await frames(2);
    await page.keyboard.type('0.25');
    await page.keyboard.down('Enter');
    await frames(2);
    await page.keyboard.up('Enter');
    check(await printed(/^value 0\.250$/) !== null, 'imgui-probe: Ctrl+click and "0.25", Enter, set the slider to 0.25');
  }
  await page.mouse.wheel({deltaY: -100});
  await page.mouse.wheel({deltaY: 100});
  const wheel = () => lines.filter(line => line.startsWith('wheel '));
  for (const deadline = Date.now() + WAIT_MS; wheel().length < 2 && Date.now() < deadline;) {
    await new Promise(resolve => setTimeout(resolve, 100));
  }
  check(JSON.stringify(wheel()) === '["wheel 120","wheel -120"]',
        `imgui-probe: the wheel turned away and back comes as WM_MOUSEWHEEL +120, then -120 (${wheel()})`);
  check(errors.length === 0, `imgui-probe: no script errors ${errors.join('; ')}`);
  await page.close();
}

// The lab's page: the panel and the fluid beside it, a load with nothing
// logged as an error (the panel's renderer asks WebGL for state it does not
// know, and sets some), its controls and links, and the keys through the page's stand-in: Space pauses and the
// state stays, "." steps once, R goes back to the start, C recolours.
async function checkLabPage() {
  const page = await browser.newPage();
  await page.setViewport({width: 1200, height: 800});
  const lines = [], consoleErrors = [], errors = [];
  page.on('console', message => {
    lines.push(message.text());
    if (message.type() === 'error' || webglFault(message.text())) consoleErrors.push(message.text());
  });
  page.on('pageerror', error => errors.push(String(error)));
  await page.goto(`${base}/pondsim-lab.html`);
  const state = async (why, step) => {
    const pattern = new RegExp(`^lab ${why}: step (\\d+) hash ([0-9a-f]{16})$`);
    const deadline = Date.now() + WAIT_MS;
    while (Date.now() < deadline) {
      const found = lines.map(line => line.match(pattern)).filter(m => m && (step === undefined || +m[1] === step));
      if (found.length > 0) return {step: +found.at(-1)[1], hash: found.at(-1)[2]};
      await new Promise(resolve => setTimeout(resolve, 100));
    }
    console.log(`     pondsim-lab printed: ${JSON.stringify(lines.slice(-5))}`);
    return {step: -1, hash: ''};
  };
  const start = await state('start', 0);
  const first = await waitForPicture(page, p => p.particle > 2000 && p.other > 50000, 'the panel beside particles');
  check(first !== null, 'pondsim-lab: the panel drawn beside the particles');
  check(consoleErrors.length === 0, `pondsim-lab: nothing logged as an error on load ${consoleErrors.join('; ')}`);
  await checkControls(page, 'pondsim-lab');
  const overlap = await page.evaluate(() => {
    const log = document.getElementById('console').getBoundingClientRect();
    const canvas = document.getElementById('canvas').getBoundingClientRect();
    return Math.max(0, Math.min(log.right, canvas.right) - Math.max(log.left, canvas.left)) *
           Math.max(0, Math.min(log.bottom, canvas.bottom) - Math.max(log.top, canvas.top));
  });
  check(overlap === 0, `pondsim-lab: the log covers none of the canvas and its panel (${overlap} px covered)`);
  const canvas = await page.$eval('#canvas', c => { const r = c.getBoundingClientRect(); return [r.left, r.top, r.width, r.height]; });
  await page.mouse.move(canvas[0] + canvas[2] * 0.7, canvas[1] + canvas[3] * 0.5);
  await page.keyboard.press('Space');
  const paused = await state('paused');
  await new Promise(resolve => setTimeout(resolve, 1000));
  await page.keyboard.press('KeyH');
  const asked = await state('asked');
  check(paused.step >= 0 && asked.step === paused.step && asked.hash === paused.hash,
        `pondsim-lab: paused, the state stays (${paused.step} ${paused.hash}, then ${asked.step} ${asked.hash})`);
  await page.keyboard.press('Period');
  const stepped = await state('step', paused.step + 1);
  check(stepped.hash !== paused.hash && stepped.hash !== '', 'pondsim-lab: "." takes one step');
  await page.keyboard.press('KeyR');
  const reset = await state('reset', 0);
  check(reset.hash === start.hash && start.hash !== '', 'pondsim-lab: R goes back to the start');
  // Still paused: only the colours can change the picture.
  const before = await page.screenshot({encoding: 'base64'});
  await page.keyboard.press('KeyC');
  let changed = 0;
  for (const deadline = Date.now() + WAIT_MS; changed < 500 && Date.now() < deadline;) {
    changed = await page.evaluate(async pngs => {
      const pixels = await Promise.all(pngs.map(async png => {
        const image = new Image();
        image.src = 'data:image/png;base64,' + png;
        await image.decode();
        const surface = document.createElement('canvas');
        [surface.width, surface.height] = [image.width, image.height];
        surface.getContext('2d').drawImage(image, 0, 0);
        return surface.getContext('2d').getImageData(0, 0, image.width, image.height).data;
      }));
      let n = 0;
      for (let i = 0; i < pixels[0].length; i += 4) {
        n += pixels[0][i] !== pixels[1][i] || pixels[0][i + 1] !== pixels[1][i + 1] || pixels[0][i + 2] !== pixels[1][i + 2];
      }
      return n;
    }, [before, await page.screenshot({encoding: 'base64'})]);
  }
  check(changed >= 500, `pondsim-lab: C colours the particles by density (${changed} pixels changed)`);

  // The panel's edits, each answered by a "lab set:" line: a viscosity typed
  // past its range is held to it, and after a preset change the next edit
  // changes the one value edited. The panel reads its input once a frame,
  // so each part of a gesture is held, longer when a frame was missed.
  const place = what => {
    const line = lines.find(l => l.startsWith(`lab panel: ${what} `));
    const [x0, y0, x1, y1] = line ? line.split(' ').slice(-4).map(Number) : [0, 0, 0, 0];
    return [canvas[0] + (x0 + x1) / 2, canvas[1] + (y0 + y1) / 2];
  };
  const sets = () => lines.filter(l => l.startsWith('lab set: '));
  const pause = ms => new Promise(resolve => setTimeout(resolve, ms));
  const edit = async gesture => {
    const before = sets().length;
    for (const hold of [300, 1000, 2000]) {
      await gesture(hold);
      for (const deadline = Date.now() + 20000; Date.now() < deadline && sets().length === before;) await pause(100);
      if (sets().length > before) return sets().at(-1).slice('lab set: '.length);
      await page.keyboard.press('Escape');
    }
    return '';
  };
  const typeViscosity = text => async hold => {
    const [x, y] = place('viscosity slider');
    await page.mouse.move(x, y);
    await page.keyboard.down('Control');
    await pause(hold);
    await page.mouse.down();
    await pause(hold);
    await page.mouse.up();
    await pause(hold);
    await page.keyboard.up('Control');
    await pause(hold);
    await page.keyboard.down('Control');
    await page.keyboard.press('KeyA');
    await page.keyboard.up('Control');
    await pause(hold);
    for (const key of text) {
      // Puppeteer's '-' carries no key code the page reads; its Minus key does.
      await page.keyboard.press(key === '-' ? 'Minus' : key);
      await pause(hold);
    }
    await pause(hold);
    await page.keyboard.press('Enter');
  };
  const clamped = await edit(typeViscosity('-1'));
  check(clamped === 'viscosity=0', `pondsim-lab: a viscosity typed as -1 is held to 0 (${clamped})`);
  const water = await edit(async hold => {
    const [x, y] = place('preset water');
    await page.mouse.move(x, y);
    await page.mouse.down();
    await pause(hold);
    await page.mouse.up();
  });
  const edited = await edit(typeViscosity('0.5'));
  check(water !== '' && edited === 'viscosity=0.5',
        `pondsim-lab: after the water preset, 0.5 typed sets the viscosity alone (${edited})`);
  check(errors.length === 0, `pondsim-lab: no script errors ${errors.join('; ')}`);
  await page.close();
}

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--mute-audio'],
});
try {
  for (const name of ['pondsim', 'pondsim-wide']) {
    await checkPage(name);
    await checkHash(name);
  }
  await checkMessageBox('pondsim');
  await checkImGuiProbe();
  await checkLabPage();
} finally {
  await browser.close();
  server.close();
}
console.log(failures === 0 ? 'all browser checks passed' : `${failures} browser check(s) failed`);
process.exit(failures === 0 ? 0 : 1);
