// The camera wall: one page of plain HTML, CSS and JavaScript, served from the
// program. Tiles fetch their camera's latest picture one after another (a browser
// opens only a few connections to one server, so a wall of streams would stall);
// a camera opened alone shows its MJPEG stream.
#include "recorder/web/web_server.h"

namespace recorder::web {

const std::string& WallPage() {
  static const std::string page = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Cameras</title>
<style>
  :root { color-scheme: dark; --bg:#15181c; --tile:#22272e; --text:#e6e9ee; --dim:#9aa3ad; --ok:#3fb950; --bad:#f85149; --wait:#d29922; }
  * { box-sizing: border-box; }
  body { margin:0; background:var(--bg); color:var(--text); font:15px/1.4 system-ui, sans-serif; }
  header { display:flex; align-items:baseline; gap:1em; padding:.6em 1em; }
  header h1 { font-size:1.15em; margin:0; font-weight:600; }
  header .count, header a { color:var(--dim); text-decoration:none; }
  #wall { display:grid; gap:.75em; padding:0 1em 1em; grid-template-columns:repeat(auto-fill, minmax(280px, 1fr)); }
  .tile { display:block; background:var(--tile); border-radius:8px; overflow:hidden; color:inherit; text-decoration:none; }
  .tile:hover, .tile:focus { outline:2px solid #58a6ff; }
  .pic { position:relative; aspect-ratio:4/3; background:#000; display:flex; align-items:center; justify-content:center; }
  .pic img { width:100%; height:100%; object-fit:contain; display:none; }
  .has .pic img { display:block; }
  .has .pic .none { display:none; }
  .none { color:var(--dim); }
  .info { padding:.45em .7em .6em; }
  .name { font-weight:600; white-space:nowrap; overflow:hidden; text-overflow:ellipsis; }
  .meta { display:flex; align-items:center; gap:.6em; color:var(--dim); font-size:.9em; }
  .dot { width:.6em; height:.6em; border-radius:50%; background:var(--bad); flex:none; }
  .dot.ok { background:var(--ok); } .dot.wait { background:var(--wait); }
  .motion[hidden] { display:none; }
  .meta .status, #singleStatus { white-space:nowrap; overflow:hidden; text-overflow:ellipsis; }
  .motion { height:.35em; margin-top:.4em; background:#333a44; border-radius:.2em; overflow:hidden; }
  .motion i { display:block; height:100%; width:0; background:#58a6ff; }
  #single { display:none; padding:0 1em 1em; }
  #single img { width:100%; max-height:calc(100vh - 9em); object-fit:contain; background:#000; border-radius:8px; }
  body.alone #wall { display:none; } body.alone #single { display:block; }
  @media (max-width:600px) { #wall { grid-template-columns:1fr; padding:0 .5em .5em; } header { padding:.5em; } }
</style>
</head>
<body>
<header><h1 id="title">Cameras</h1><span class="count" id="count"></span><a id="back" href="#" hidden>&larr; All cameras</a></header>
<main id="wall"></main>
<section id="single"><img id="stream" alt="Live picture"><div class="info"><div class="name" id="singleName"></div>
<div class="meta"><span class="dot" id="singleDot"></span><span id="singleStatus"></span></div>
<div class="motion" id="singleMotionBar" title="Motion level"><i id="singleMotion"></i></div></div></section>
<script>
"use strict";
const wall = document.getElementById('wall');
const tiles = [];
let cameras = [];
let alone = null;
const sleep = ms => new Promise(r => setTimeout(r, ms));

function dotClass(status) {
  if (status === 'Started') return 'dot ok';
  if (status === 'Connecting...') return 'dot wait';
  return 'dot';
}
// Motion levels run from 0 to 255.
function level(c) { return Math.max(0, Math.min(100, c.motionLevel * 100 / 255)); }
function describe(c) {
  // A negative level: the camera does not detect motion.
  let text = c.status + (c.motionLevel < 0 ? ' \u00b7 no motion detection' : ' \u00b7 motion ' + c.motionLevel);
  if (c.lastMotion) text += ' \u00b7 last ' + c.lastMotion.slice(11);
  return text;
}
function makeTile(i) {
  const a = document.createElement('a');
  a.className = 'tile';
  a.href = '#camera=' + i;
  a.innerHTML = '<div class="pic"><img alt=""><span class="none">No picture yet</span></div>' +
      '<div class="info"><div class="name"></div><div class="meta"><span class="dot"></span>' +
      '<span class="status"></span></div><div class="motion" title="Motion level"><i></i></div></div>';
  wall.appendChild(a);
  tiles[i] = a;
  pump(a, i);
  return a;
}
async function pump(tile, i) {
  while (tile.isConnected) {
    if (alone === null && !document.hidden) {
      try {
        const r = await fetch('cameras/' + i + '/snapshot.jpg', {cache: 'no-store'});
        if (r.ok) {
          const url = URL.createObjectURL(await r.blob());
          const img = tile.querySelector('img');
          const old = img.src;
          img.onload = () => { if (old.startsWith('blob:')) URL.revokeObjectURL(old); };
          img.src = url;
          tile.classList.add('has');
        }
      } catch (e) {}
      await sleep(100);
    } else {
      await sleep(500);
    }
  }
}
function update() {
  while (tiles.length > cameras.length) tiles.pop().remove();
  cameras.forEach((c, i) => {
    const t = tiles[i] || makeTile(i);
    t.querySelector('.name').textContent = c.name;
    t.querySelector('.status').textContent = describe(c);
    t.querySelector('.dot').className = dotClass(c.status);
    t.querySelector('.motion i').style.width = level(c) + '%';
    t.querySelector('.motion').hidden = c.motionLevel < 0;
  });
  document.getElementById('count').textContent = cameras.length + (cameras.length === 1 ? ' camera' : ' cameras');
  if (alone !== null && cameras[alone]) {
    const c = cameras[alone];
    document.getElementById('singleName').textContent = c.name;
    document.getElementById('singleStatus').textContent = describe(c);
    document.getElementById('singleDot').className = dotClass(c.status);
    document.getElementById('singleMotion').style.width = level(c) + '%';
    document.getElementById('singleMotionBar').hidden = c.motionLevel < 0;
  }
}
async function poll() {
  for (;;) {
    try {
      const r = await fetch('status.json', {cache: 'no-store'});
      if (r.ok) { cameras = (await r.json()).cameras; update(); }
    } catch (e) {}
    await sleep(1000);
  }
}
function route() {
  const m = /^#camera=(\d+)$/.exec(location.hash);
  const stream = document.getElementById('stream');
  alone = m ? Number(m[1]) : null;
  document.body.classList.toggle('alone', alone !== null);
  document.getElementById('back').hidden = alone === null;
  stream.src = alone === null ? '' : 'cameras/' + alone + '/stream.mjpg';
  if (alone === null) stream.removeAttribute('src');
  update();
}
window.addEventListener('hashchange', route);
route();
poll();
</script>
</body>
</html>
)HTML";
  return page;
}

}  // namespace recorder::web
