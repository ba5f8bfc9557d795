// The live view of the Tarsel arms: one panel per arm, fed by the server's
// events (/events, about 25 a second). Each panel draws the arm from the
// kinematic model's frames the server sends, with the point it is heading
// to and its protection zones, shows the joints, fingers and pose as
// numbers, plots the joints over the last seconds (the server sends what
// it kept of them when the page connects) and lists the error log as the
// server decoded it.
'use strict';

(function () {
  const JOINT_COLOURS = ['#d32f2f', '#388e3c', '#1976d2', '#f57c00', '#7b1fa2', '#00897b'];
  const FINGER_TRAVEL = 6800; // 0 open .. 6800 closed
  const HAND_REACH = 0.075; // m from the knuckles to the hand tip
  const ZONE_THICKNESS = 0.002; // m: a flat zone is drawn this thick

  const armsElement = document.getElementById('arms');
  const linkElement = document.getElementById('link-state');
  const template = document.getElementById('arm-template');
  const panels = new Map(); // by path

  // For people poking at the page, and for tests. historySeconds is the
  // plot's window, as the server keeps it.
  const view = { panels: panels, events: 0, time: null, webgl: webglAvailable(), historySeconds: 10 };
  window.tarselView = view;
  // The samples the server kept of each arm, by path, until its panel takes them.
  let pastByPath = new Map();

  function webglAvailable() {
    try {
      const canvas = document.createElement('canvas');
      return !!(window.THREE && (canvas.getContext('webgl') || canvas.getContext('experimental-webgl')));
    } catch (e) {
      return false;
    }
  }

  // Whether WebGL is drawn by the CPU (no graphics driver at hand).
  let software = null;
  function softwareWebgl() {
    if (software === null) software = askSoftwareWebgl();
    return software;
  }

  function askSoftwareWebgl() {
    try {
      const gl = document.createElement('canvas').getContext('webgl');
      const info = gl && gl.getExtension('WEBGL_debug_renderer_info');
      const renderer = info ? String(gl.getParameter(info.UNMASKED_RENDERER_WEBGL)) : '';
      return /swiftshader|llvmpipe|software/i.test(renderer);
    } catch (e) {
      return false;
    }
  }

  function fixed(value, digits) {
    if (typeof value !== 'number' || !isFinite(value)) return '—';
    const text = value.toFixed(digits);
    return Number(text) === 0 ? (0).toFixed(digits) : text; // no "-0.000"
  }

  // --- The 3D model ------------------------------------------------------------

  class ArmModel {
    constructor(container, fingerCount) {
      this.container = container;
      // No antialiasing when WebGL runs in software: it would cost more
      // than everything else on the page.
      this.renderer = new THREE.WebGLRenderer({ antialias: !softwareWebgl(), preserveDrawingBuffer: true });
      this.renderer.setPixelRatio(window.devicePixelRatio || 1);
      this.renderer.setClearColor(0xe8ecef);
      container.appendChild(this.renderer.domElement);

      this.scene = new THREE.Scene();
      this.camera = new THREE.PerspectiveCamera(40, 1, 0.01, 20);
      this.camera.up.set(0, 0, 1); // the arm's base frame has z up
      this.camera.position.set(1.15, -1.05, 0.85);
      this.controls = new THREE.OrbitControls(this.camera, this.renderer.domElement);
      this.controls.target.set(0, 0, 0.4);
      this.controls.update();
      this.controls.addEventListener('change', () => this.requestRender());
      this.shown = null; // what the drawing shows, to skip drawing it again

      this.scene.add(new THREE.HemisphereLight(0xffffff, 0x8899aa, 0.7));
      const sun = new THREE.DirectionalLight(0xffffff, 0.6);
      sun.position.set(2, -1, 3);
      this.scene.add(sun);
      const grid = new THREE.GridHelper(2, 20, 0x90a4ae, 0xcfd8dc);
      grid.rotation.x = Math.PI / 2; // into the x-y plane
      this.scene.add(grid);
      this.scene.add(new THREE.AxesHelper(0.2));

      // Where the arm is heading: a ball there and a dashed line to it
      // from the hand tip.
      const heading = 0x2e7d32;
      this.target = new THREE.Mesh(new THREE.SphereBufferGeometry(0.022, 20, 12),
        new THREE.MeshLambertMaterial({ color: heading, transparent: true, opacity: 0.7 }));
      this.targetLine = new THREE.Line(
        new THREE.BufferGeometry().setFromPoints([new THREE.Vector3(), new THREE.Vector3()]),
        new THREE.LineDashedMaterial({ color: heading, dashSize: 0.02, gapSize: 0.012 }));
      this.target.visible = this.targetLine.visible = false;
      this.scene.add(this.target, this.targetLine);
      this.targetShown = null;
      // The protection zones: translucent boxes with their edges drawn.
      this.zoneMaterial = new THREE.MeshBasicMaterial({
        color: 0xe53935, transparent: true, opacity: 0.16, depthWrite: false, side: THREE.DoubleSide });
      this.zoneEdgeMaterial = new THREE.LineBasicMaterial({ color: 0xc62828 });
      this.zoneBoxes = [];
      this.zonesShown = null;

      this.linkMaterial = new THREE.MeshLambertMaterial({ color: 0x607d8b });
      this.jointMaterial = new THREE.MeshLambertMaterial({ color: 0xffa000 });
      this.handMaterial = new THREE.MeshLambertMaterial({ color: 0x37474f });
      this.links = [];
      this.joints = [];
      this.hand = this.makeHand(fingerCount);
      this.scene.add(this.hand);
      this.resize();
      // The panel's width follows the window and the number of arms.
      if (window.ResizeObserver) new ResizeObserver(() => this.resize()).observe(container);
    }

    // A cylinder of radius r along y, one unit long; placed between two
    // points by link().
    makeLink(radius) {
      const mesh = new THREE.Mesh(new THREE.CylinderBufferGeometry(radius, radius, 1, 20), this.linkMaterial);
      this.scene.add(mesh);
      return mesh;
    }

    // The hand in the frame of its tip (z pointing out of the hand): a palm
    // and two or three fingers reaching to the tip.
    makeHand(fingerCount) {
      const hand = new THREE.Group();
      hand.matrixAutoUpdate = false; // placed by frame 6, the hand tip
      const palm = new THREE.Mesh(new THREE.CylinderBufferGeometry(0.045, 0.04, 0.02, 20), this.handMaterial);
      palm.rotation.x = Math.PI / 2; // its axis along the tip frame's z
      palm.position.z = -HAND_REACH - 0.01;
      hand.add(palm);
      this.fingers = [];
      for (let k = 0; k < fingerCount; ++k) {
        // Fingers stand round the hand's axis and bend towards it as they close.
        const around = new THREE.Group();
        around.rotation.z = (2 * Math.PI * k) / fingerCount;
        const knuckle = new THREE.Group();
        knuckle.position.set(0.034, 0, -HAND_REACH);
        const finger = new THREE.Mesh(new THREE.BoxBufferGeometry(0.014, 0.02, HAND_REACH), this.handMaterial);
        finger.position.z = HAND_REACH / 2;
        knuckle.add(finger);
        around.add(knuckle);
        hand.add(around);
        this.fingers.push(knuckle);
      }
      return hand;
    }

    // Places mesh between points a and b.
    static link(mesh, a, b) {
      const direction = new THREE.Vector3().subVectors(b, a);
      const length = direction.length();
      mesh.visible = length > 1e-4;
      if (!mesh.visible) return;
      mesh.position.copy(a).addScaledVector(direction, 0.5);
      mesh.quaternion.setFromUnitVectors(new THREE.Vector3(0, 1, 0), direction.normalize());
      mesh.scale.set(1, length, 1);
    }

    // Boxes for the zones, each {index, low: [x, y, z], high: [x, y, z]} in
    // metres in the base frame; drawn again only when they change.
    showZones(zones) {
      const shown = JSON.stringify(zones);
      if (shown === this.zonesShown) return;
      this.zonesShown = shown;
      for (const box of this.zoneBoxes) {
        this.scene.remove(box);
        box.children.forEach((part) => part.geometry.dispose());
      }
      this.zoneBoxes = [];
      for (const zone of zones) {
        const low = (zone && zone.low) || [], high = (zone && zone.high) || [];
        const corners = low.concat(high);
        if (corners.length !== 6 || !corners.every((v) => typeof v === 'number' && isFinite(v))) continue;
        const size = [0, 1, 2].map((k) => Math.max(high[k] - low[k], ZONE_THICKNESS));
        const geometry = new THREE.BoxBufferGeometry(size[0], size[1], size[2]);
        const box = new THREE.Group();
        box.add(new THREE.Mesh(geometry, this.zoneMaterial));
        box.add(new THREE.LineSegments(new THREE.EdgesGeometry(geometry), this.zoneEdgeMaterial));
        box.position.set((low[0] + high[0]) / 2, (low[1] + high[1]) / 2, (low[2] + high[2]) / 2);
        this.scene.add(box);
        this.zoneBoxes.push(box);
      }
      this.requestRender();
    }

    // The ball where target (or null) takes the hand tip, and the line to
    // it from the tip of frame tip.
    showTarget(target, tip) {
      const position = target && Array.isArray(target.position) ? target.position : [];
      const visible = position.length === 3 && position.every((v) => typeof v === 'number' && isFinite(v));
      const shown = JSON.stringify(visible ? [position, tip[9], tip[10], tip[11]] : null);
      if (shown === this.targetShown) return;
      this.targetShown = shown;
      this.target.visible = this.targetLine.visible = visible;
      if (visible) {
        this.target.position.set(position[0], position[1], position[2]);
        const ends = this.targetLine.geometry.attributes.position;
        ends.setXYZ(0, tip[9], tip[10], tip[11]);
        ends.setXYZ(1, position[0], position[1], position[2]);
        ends.needsUpdate = true;
        this.targetLine.geometry.computeBoundingSphere();
        this.targetLine.computeLineDistances();
      }
      this.requestRender();
    }

    update(arm) {
      this.showZones(Array.isArray(arm.zones) ? arm.zones : []);
      const frames = arm.frames || [];
      if (frames.length < 7) return;
      this.showTarget(arm.target, frames[6]);
      const shown = JSON.stringify([frames, arm.fingers]);
      if (shown === this.shown) return;
      this.shown = shown;
      const origins = frames.map((f) => new THREE.Vector3(f[9], f[10], f[11]));
      // The last link ends at the palm, the fingers' length short of the tip.
      const tip = frames[6];
      const outOfHand = new THREE.Vector3(tip[2], tip[5], tip[8]);
      origins[6] = origins[6].clone().addScaledVector(outOfHand, -HAND_REACH - 0.01);
      // The links between the distinct joint origins: base column, upper
      // arm, forearm, wrist to the hand tip.
      const points = [origins[0]];
      for (let i = 1; i < origins.length; ++i) {
        if (origins[i].distanceTo(points[points.length - 1]) > 1e-3) points.push(origins[i]);
      }
      const radii = [0.06, 0.045, 0.035, 0.03, 0.025, 0.02];
      while (this.links.length < points.length - 1) {
        this.links.push(this.makeLink(radii[Math.min(this.links.length, radii.length - 1)]));
      }
      while (this.joints.length < points.length - 1) {
        const ball = new THREE.Mesh(new THREE.SphereBufferGeometry(1, 20, 12), this.jointMaterial);
        this.scene.add(ball);
        this.joints.push(ball);
      }
      this.links.forEach((mesh, i) => {
        if (i < points.length - 1) ArmModel.link(mesh, points[i], points[i + 1]);
        else mesh.visible = false;
      });
      this.joints.forEach((ball, i) => {
        ball.visible = i + 1 < points.length - 1;
        if (ball.visible) {
          ball.position.copy(points[i + 1]);
          ball.scale.setScalar(radii[Math.min(i, radii.length - 1)] * 1.25);
        }
      });
      this.hand.matrix.set(tip[0], tip[1], tip[2], tip[9],
                           tip[3], tip[4], tip[5], tip[10],
                           tip[6], tip[7], tip[8], tip[11],
                           0, 0, 0, 1);
      this.hand.matrixWorldNeedsUpdate = true;
      this.fingers.forEach((knuckle, k) => {
        const closed = Math.min(Math.max((arm.fingers[k] || 0) / FINGER_TRAVEL, 0), 1);
        knuckle.rotation.y = 0.35 - 0.9 * closed; // open: spread out; closed: bent in
      });
      this.requestRender();
    }

    resize() {
      const width = this.container.clientWidth || 300;
      const height = this.container.clientHeight || 300;
      if (width === this.width && height === this.height) return;
      this.width = width;
      this.height = height;
      this.renderer.setSize(width, height, false); // the style fills the panel
      this.camera.aspect = width / height;
      this.camera.updateProjectionMatrix();
      this.requestRender();
    }

    // Draws once at the next frame, however many changes came before it.
    requestRender() {
      if (this.renderPending) return;
      this.renderPending = true;
      requestAnimationFrame(() => {
        this.renderPending = false;
        this.renderer.render(this.scene, this.camera);
      });
    }
  }

  // --- The joints over the last seconds -------------------------------------------

  // Draws the joints of history over the last `seconds`; what it drew:
  // {samples, from, to} (times in s), or null when there was nothing.
  function drawPlot(canvas, history, seconds) {
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth || 600;
    const height = canvas.clientHeight || 170;
    if (canvas.width !== Math.round(width * ratio)) canvas.width = Math.round(width * ratio);
    if (canvas.height !== Math.round(height * ratio)) canvas.height = Math.round(height * ratio);
    const g = canvas.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, width, height);
    if (history.length === 0) return null;

    const left = 44, right = 8, top = 8, bottom = 20;
    const now = history[history.length - 1].time;
    let low = Infinity, high = -Infinity;
    for (const sample of history) {
      for (const v of sample.joints) {
        if (typeof v === 'number' && isFinite(v)) {
          low = Math.min(low, v);
          high = Math.max(high, v);
        }
      }
    }
    if (!isFinite(low)) return null;
    const middle = (low + high) / 2;
    const span = Math.max(high - low, 20) * 1.1;
    low = middle - span / 2;
    high = middle + span / 2;
    const x = (t) => left + ((t - (now - seconds)) / seconds) * (width - left - right);
    const y = (v) => top + ((high - v) / (high - low)) * (height - top - bottom);

    g.font = '11px system-ui, sans-serif';
    g.fillStyle = '#777';
    g.strokeStyle = '#e3e3e3';
    g.lineWidth = 1;
    for (let k = 0; k <= 4; ++k) {
      const v = low + ((high - low) * k) / 4;
      g.beginPath();
      g.moveTo(left, y(v));
      g.lineTo(width - right, y(v));
      g.stroke();
      g.fillText(v.toFixed(0) + '°', 2, y(v) + 4);
    }
    g.fillText('−' + seconds + ' s', left, height - 5);
    g.fillText('now', width - right - 22, height - 5);

    for (let j = 0; j < 6; ++j) {
      g.strokeStyle = JOINT_COLOURS[j];
      g.lineWidth = 1.5;
      g.beginPath();
      let drawing = false;
      for (const sample of history) {
        const v = sample.joints[j];
        if (typeof v !== 'number' || !isFinite(v)) {
          drawing = false; // a gap where the arm gave no number
          continue;
        }
        if (drawing) g.lineTo(x(sample.time), y(v));
        else g.moveTo(x(sample.time), y(v));
        drawing = true;
      }
      g.stroke();
      g.fillStyle = JOINT_COLOURS[j];
      g.fillText('J' + (j + 1), left + 6 + j * 26, top + 10);
    }
    return { samples: history.length, from: history[0].time, to: now };
  }

  // --- One arm's panel -----------------------------------------------------------------

  class ArmPanel {
    constructor(arm) {
      this.element = template.content.firstElementChild.cloneNode(true);
      this.element.dataset.path = arm.path;
      this.element.querySelector('.path').textContent = arm.path;
      this.element.querySelector('.label').textContent = arm.label || '';
      this.fingerCount = arm.fingerCount;
      const row = (selector, attribute, names) => {
        const tr = this.element.querySelector(selector);
        return names.map((name) => {
          const td = document.createElement('td');
          td.dataset[attribute] = name;
          tr.appendChild(td);
          return td;
        });
      };
      this.jointCells = row('tr.joints', 'joint', ['1', '2', '3', '4', '5', '6']);
      this.fingerCells = row('tr.fingers', 'finger', ['1', '2', '3']);
      this.poseCells = row('tr.pose', 'pose', ['x', 'y', 'z', 'rx', 'ry', 'rz']);
      this.fields = {};
      this.element.querySelectorAll('[data-field]').forEach((e) => { this.fields[e.dataset.field] = e; });
      this.plot = this.element.querySelector('canvas.plot');
      this.errorList = this.element.querySelector('ol.errors');
      this.errorCount = this.element.querySelector('.error-count');
      this.problem = this.element.querySelector('.problem');
      this.history = [];
      this.plotted = null; // what the plot last drew (drawPlot)
      this.errorsShown = null;
      armsElement.appendChild(this.element);

      const scene = this.element.querySelector('.scene');
      if (view.webgl) {
        this.model = new ArmModel(scene, arm.fingerCount);
      } else {
        const note = document.createElement('div');
        note.className = 'note';
        note.textContent = 'The 3D view needs WebGL.';
        scene.appendChild(note);
      }
    }

    update(arm, time) {
      arm.joints.forEach((v, k) => { this.jointCells[k].textContent = fixed(v, 2); });
      arm.fingers.forEach((v, k) => {
        this.fingerCells[k].textContent = k < arm.fingerCount ? fixed(v, 0) : '—';
      });
      arm.pose.forEach((v, k) => { this.poseCells[k].textContent = fixed(v, 3); });
      this.fields.queue.textContent = String(arm.queue);
      this.fields.target.textContent = targetText(arm.target);
      this.fields.control.textContent = arm.control;
      this.fields.api.textContent = arm.apiControl ? 'on' : 'off';
      this.problem.textContent = arm.online ? '' : '— ' + (arm.problem || 'no answer');
      this.showErrors(arm.errors || []);

      // The server's past of the arm, on connecting: it replaces what the
      // page had (the server may have restarted, its clock with it).
      const past = pastByPath.get(arm.path);
      if (past) {
        this.history = past;
        pastByPath.delete(arm.path);
      }
      const last = this.history[this.history.length - 1];
      if (!last || time > last.time) this.history.push({ time: time, joints: arm.joints.slice() });
      while (this.history.length > 0 && this.history[0].time < time - view.historySeconds) this.history.shift();
      this.requestPlot();
      if (this.model) this.model.update(arm);
    }

    // The numbers change with every state, the drawings once per frame: a
    // page that is not looked at (or a busy machine) skips drawings, never
    // states.
    requestPlot() {
      if (this.plotPending) return;
      this.plotPending = true;
      requestAnimationFrame(() => {
        this.plotPending = false;
        this.plotted = drawPlot(this.plot, this.history, view.historySeconds);
      });
    }

    showErrors(errors) {
      const text = JSON.stringify(errors);
      if (text === this.errorsShown) return;
      this.errorsShown = text;
      this.errorCount.textContent = '(' + errors.length + ')';
      this.errorList.textContent = '';
      for (const e of errors) {
        const li = document.createElement('li');
        li.className = 'severity-' + e.severity;
        li.textContent = e.codeText + ' · ' + e.deviceName + ' · ' + e.severityName + ' · ×' +
            e.occurrences + ' · at ' + e.time + ' s';
        this.errorList.appendChild(li);
      }
    }

    remove() {
      this.element.remove();
    }
  }

  // "joints 60.0, 0.0, ... °" or "X, Y, Z 0.410, 0.000, 0.300 m"; "—" for none.
  function targetText(target) {
    if (!target || !Array.isArray(target.values)) return '—';
    if (target.kind === 'angular') return target.values.map((v) => fixed(v, 1)).join(', ') + ' °';
    return target.values.slice(0, 3).map((v) => fixed(v, 3)).join(', ') + ' m';
  }

  // --- The events ---------------------------------------------------------------------

  function apply(state) {
    const seen = new Set();
    for (const arm of state.arms) {
      seen.add(arm.path);
      let panel = panels.get(arm.path);
      if (panel && panel.fingerCount !== arm.fingerCount) {
        panel.remove();
        panel = null;
      }
      if (!panel) {
        panel = new ArmPanel(arm);
        panels.set(arm.path, panel);
      }
      panel.update(arm, state.time);
    }
    for (const [path, panel] of panels) {
      if (!seen.has(path)) {
        panel.remove();
        panels.delete(path);
      }
    }
    view.events += 1;
    view.time = state.time;
  }

  window.addEventListener('resize', () => {
    for (const panel of panels.values()) {
      if (panel.model) panel.model.resize();
    }
  });

  const events = new EventSource('/events');
  // The first message of every stream: what the server kept of the joints,
  // {time, historySeconds, arms: {path: [[time, joint 1, ..., joint 6]]}}.
  events.addEventListener('history', (message) => {
    try {
      const past = JSON.parse(message.data);
      if (typeof past.historySeconds === 'number' && past.historySeconds > 0) {
        view.historySeconds = past.historySeconds;
      }
      pastByPath = new Map();
      for (const [path, samples] of Object.entries(past.arms || {})) {
        if (!Array.isArray(samples)) continue;
        pastByPath.set(path, samples
          .filter((s) => Array.isArray(s) && s.length >= 7 && typeof s[0] === 'number')
          .map((s) => ({ time: s[0], joints: s.slice(1, 7) })));
      }
    } catch (e) {
      linkElement.textContent = 'bad history from the server: ' + e;
    }
  });
  events.onopen = () => { linkElement.textContent = 'live'; };
  // A stream refused (the server's most viewers are watching) is not tried
  // again by the browser; a lost one is.
  events.onerror = () => {
    linkElement.textContent = events.readyState === EventSource.CLOSED
      ? 'refused by the server (too many pages open?); reload to try again'
      : 'no connection to the server; retrying…';
  };
  events.onmessage = (message) => {
    try {
      apply(JSON.parse(message.data));
    } catch (e) {
      linkElement.textContent = 'bad state from the server: ' + e;
    }
  };
})();
