// The live page's logic: stream and JSON endpoints in, value, charts, sections and writes out.
'use strict';

(function () {
  const WORDS = ['power', 'p_mode', 'v_thd', 'ana_mode', 'polarity', 'e_mode', 'e_beg', 'e_end',
    't_val', 't_tol', 'op_mode', 'e_hardware', 'para12', 'para13', 'average', 'para15'];
  const KEEP_SECONDS = 300;
  const REDRAW_MS = 200;
  const STATS_MS = 2000;
  const STATUS_MS = 5000;

  // Word names and meanings follow the panel's labels and tooltips, in both languages.
  const TEXT = {
    en: {
      sensor: 'Sensor', broker: 'Broker', stream: 'Stream', live: 'Live',
      left: 'Left edge', right: 'Right edge', setpoint: 'Set-point', tolerance: 'Tolerance',
      anaMax: 'Analogue max', anaMin: 'Analogue min', seq: 'Answer no.', pause: 'Pause',
      resume: 'Resume', span: 'Span', statistics: 'Statistics', count: 'Count', mean: 'Mean',
      stdDev: 'Std. dev.', min: 'Min', max: 'Max', inTol: 'In tolerance',
      resetStats: 'Reset statistics', videoLine: 'Video line',
      videoNote: 'Taking a video line pauses the measurement for about a third of a second.',
      videoTake: 'Take a video line', exportCsv: 'Export CSV', legendLine: 'video line',
      reserveTitle: 'Signal reserve', reserveContrast: 'Contrast', reserveSaturated: 'Saturated',
      reserveTaken: 'Last reserve line', reserveFailures: 'Lines that did not come',
      legendReserve: 'signal reserve', legendWarn: 'warning level', yes: 'yes', no: 'no',
      reserveNone: 'No reserve line yet', reserveOff: 'Off (--reserve-every 0)', reserveLost: 'lost',
      reserveNoObject: '{0} (no object)',
      driftUnsaved: 'Unsaved changes: the sensor\'s RAM differs from its EEPROM; the next power cycle undoes them.',
      driftApproved: 'The sensor differs from the approved parameter set ({0}).',
      driftWord: '{0} (word {1}): approved {2}, EEPROM {3}, RAM {4}',
      driftWordNoApproved: '{0} (word {1}): EEPROM {2}, RAM {3}',
      driftChecked: 'Checked {0}.',
      proposal: 'Proposed for this line: v_thd {0} (now {1}), window {2} to {3}: {4} counts on either side, reserve {5}.',
      noProposal: 'No proposal for this line: {0}.',
      reserveAdvice: 'Signal reserve below {0}: clean the lens, check the light or shade the sensor from stray light.',
      legendThreshold: 'threshold', legendEdges: 'edges', legendWindow: 'evaluation window', sensorGateway: 'Sensor and gateway',
      sensorType: 'Sensor type', board: 'Board', pixels: 'Pixels', firmware: 'Firmware',
      pitch: 'Pixel pitch', port: 'Port', health: 'Gateway health', statusWord: 'Status',
      queue: 'Queue depth', dropped: 'Dropped samples', samples: 'Samples',
      serialErrors: 'Serial errors', uptime: 'Uptime', version: 'Version', store: 'Store on disk',
      storeOk: 'ok', storeFailing: 'failing: {0}',
      portCheck: 'Port check', doctorRun: 'Check the port', paramWords: 'Parameter words',
      writesOff: 'Writes are off. The gateway\'s owner turns them on by starting serve with --http-token-file FILE.',
      name: 'Name', meaning: 'Meaning', ram: 'RAM', newValue: 'New value', token: 'Token',
      tokenKeep: 'Keep for this browser tab', target: 'Write to', toRam: 'RAM (until power-off)',
      toEeprom: 'EEPROM (permanent)', send: 'Send changed words', teach: 'Teach',
      resetMaxMin: 'Reset max/min', lastWrites: 'Last writes', share: 'On another device',
      shareNote: 'Scan the code with a phone on the same network.',
      shareLoopback: 'This address works only on this computer: open the page by the gateway\'s network address (serve --http ADDRESS:PORT) to reach it from another device.',
      eepromTitle: 'Write to EEPROM', cancel: 'Cancel',
      inTolYes: 'in tolerance', inTolNo: 'out of tolerance', noSample: 'no sample yet',
      online: 'online', noSensor: 'no sensor', connected: 'connected',
      disconnected: 'disconnected', off: 'off', ageNone: 'no sample',
      ageMs: '{0} ms ago', ageS: '{0} s ago', lightSensor: 'Sensor answering',
      lightBroker: 'Broker connected', lightStream: 'Stream alive',
      readout: '{0}  value {1}  (no. {2})', paused: 'paused',
      videoBusy: 'A video line was taken less than a second ago; try again in {0} s.',
      videoTaking: 'Taking a video line…', videoTaken: 'Video line taken at {0}.',
      videoFailed: 'No video line: {0}', requestFailed: 'The gateway did not answer ({0}).',
      doctorRunning: 'Checking the port…', doctorNone: 'The check found nothing to report.',
      doctorToken: 'The port check needs the write token: it reopens the port and pauses the measurement. Type the token under Parameter words.',
      doctorOff: 'The port check needs the write token: it reopens the port and pauses the measurement. Writes are off on this gateway; the owner turns them on by starting serve with --http-token-file FILE.',
      doctorBusy: 'Too much sensor work is waiting; try again in {0} s.',
      doctorBusyNow: 'Too much sensor work is waiting; try again shortly.',
      statsResetDone: 'Statistics reset.', cpNone: 'Cp and Cpk: {0}',
      noChanges: 'No word differs from the sensor\'s RAM - nothing sent.',
      written: 'Written: {0}.', writtenEeprom: 'Written to the EEPROM: {0}.',
      teachDone: 'Taught: the set-point is now the measured value.',
      resetDone: 'Analogue max and min reset.',
      err403: 'Writes are off on this gateway. The owner turns them on by starting serve with --http-token-file FILE.',
      err401: 'The token is missing or wrong; nothing was sent to the sensor.',
      err422: '{0} = {1} is outside {2} to {3}; nothing was sent.',
      err400: 'The gateway refused the request: {0}',
      errOther: 'The write failed ({0}): {1}',
      eepromChanges: 'These words of the sensor\'s EEPROM will change permanently:',
      eepromUnread: 'The sensor\'s EEPROM could not be read, so the words that would change are not known. Write the parameter set permanently anyway?',
      eepromSame: 'The EEPROM already holds this parameter set - nothing sent.',
      eepromCancelled: 'EEPROM write cancelled.',
      wordLine: '{0} (word {1}): {2} → {3}', notANumber: '{0}: not a whole number',
      days: '{0} d {1} h', hours: '{0} h {1} min', minutes: '{0} min {1} s', seconds: '{0} s',
      writesBy: '{0} by {1}: {2}',
      words: ['Power', 'P-mode', 'Video threshold', 'Analogue output mode', 'Polarity',
        'Evaluation mode', 'Evaluation left', 'Evaluation right', 'Set-point', 'Tolerance',
        'Operating mode', 'Hardware setting', 'Word 12', 'Word 13', 'Averaging', 'Word 15'],
      meanings: ['power, 0 to 1000', 'P-mode, 0 (off) or 1 (on)', 'video threshold, 50 to 950',
        'analogue output mode, 0 to 7', 'polarity, 0 or 1', 'evaluation mode, 0 to 4',
        'left end of the evaluation window, 1 to the sensor\'s sub-pixel count',
        'right end of the evaluation window, 1 to the sensor\'s sub-pixel count',
        'set-point, 0 to 65535', 'tolerance around the set-point, 1 to 65535',
        'operating mode, 0 (LO-GAIN) or 1 (HI-GAIN)', 'hardware setting, 0 to 3', '', '',
        'averaging, 0 to 1024', '']
    },
    de: {
      sensor: 'Sensor', broker: 'Broker', stream: 'Datenstrom', live: 'Live',
      left: 'Linke Kante', right: 'Rechte Kante', setpoint: 'Sollwert', tolerance: 'Toleranz',
      anaMax: 'Analog max', anaMin: 'Analog min', seq: 'Antwort Nr.', pause: 'Anhalten',
      resume: 'Weiter', span: 'Zeitraum', statistics: 'Statistik', count: 'Anzahl',
      mean: 'Mittelwert', stdDev: 'Standardabw.', min: 'Min', max: 'Max', inTol: 'In Toleranz',
      resetStats: 'Statistik zurücksetzen', videoLine: 'Videozeile',
      videoNote: 'Für eine Videozeile pausiert die Messung etwa eine Drittelsekunde.',
      videoTake: 'Videozeile holen', exportCsv: 'Als CSV exportieren', legendLine: 'Videozeile',
      reserveTitle: 'Signalreserve', reserveContrast: 'Kontrast', reserveSaturated: 'Übersteuert',
      reserveTaken: 'Letzte Reservezeile', reserveFailures: 'Ausgebliebene Zeilen',
      legendReserve: 'Signalreserve', legendWarn: 'Warnschwelle', yes: 'ja', no: 'nein',
      reserveNone: 'Noch keine Reservezeile', reserveOff: 'Aus (--reserve-every 0)', reserveLost: 'verloren',
      reserveNoObject: '{0} (kein Objekt)',
      driftUnsaved: 'Nicht gespeicherte Änderungen: das RAM des Sensors weicht von seinem EEPROM ab; das nächste Aus- und Einschalten macht sie rückgängig.',
      driftApproved: 'Der Sensor weicht vom freigegebenen Parametersatz ab ({0}).',
      driftWord: '{0} (Wort {1}): freigegeben {2}, EEPROM {3}, RAM {4}',
      driftWordNoApproved: '{0} (Wort {1}): EEPROM {2}, RAM {3}',
      driftChecked: 'Geprüft {0}.',
      proposal: 'Vorschlag für diese Zeile: v_thd {0} (jetzt {1}), Fenster {2} bis {3}: {4} Zählwerte auf jeder Seite, Reserve {5}.',
      noProposal: 'Kein Vorschlag für diese Zeile: {0}.',
      reserveAdvice: 'Signalreserve unter {0}: Optik reinigen, Beleuchtung prüfen oder Fremdlicht abschirmen.',
      legendThreshold: 'Schwelle', legendEdges: 'Kanten', legendWindow: 'Auswertefenster',
      sensorGateway: 'Sensor und Gateway', sensorType: 'Sensortyp', board: 'Platine',
      pixels: 'Pixel', firmware: 'Firmware', pitch: 'Pixelabstand', port: 'Anschluss',
      health: 'Zustand des Gateways', statusWord: 'Status', queue: 'Warteschlange',
      dropped: 'Verworfene Messwerte', samples: 'Messwerte', serialErrors: 'Übertragungsfehler',
      uptime: 'Laufzeit', version: 'Version', store: 'Speicher auf Platte',
      storeOk: 'in Ordnung', storeFailing: 'gestört: {0}', portCheck: 'Anschlussprüfung',
      doctorRun: 'Anschluss prüfen', paramWords: 'Parameterwörter',
      writesOff: 'Schreiben ist ausgeschaltet. Der Betreiber des Gateways schaltet es ein, indem er serve mit --http-token-file DATEI startet.',
      name: 'Name', meaning: 'Bedeutung', ram: 'RAM', newValue: 'Neuer Wert', token: 'Token',
      tokenKeep: 'Für diesen Browser-Tab merken', target: 'Schreiben in',
      toRam: 'RAM (bis zum Ausschalten)', toEeprom: 'EEPROM (dauerhaft)',
      send: 'Geänderte Wörter senden', teach: 'Einlernen', resetMaxMin: 'Max/Min zurücksetzen',
      lastWrites: 'Letzte Schreibzugriffe', share: 'Auf einem anderen Gerät',
      shareNote: 'Den Code mit einem Telefon im selben Netz scannen.',
      shareLoopback: 'Diese Adresse gilt nur auf diesem Rechner: Die Seite über die Netzadresse des Gateways öffnen (serve --http ADRESSE:PORT), um sie von einem anderen Gerät zu erreichen.',
      eepromTitle: 'In das EEPROM schreiben', cancel: 'Abbrechen',
      inTolYes: 'in Toleranz', inTolNo: 'außerhalb der Toleranz', noSample: 'noch kein Messwert',
      online: 'online', noSensor: 'kein Sensor', connected: 'verbunden',
      disconnected: 'getrennt', off: 'aus', ageNone: 'kein Messwert',
      ageMs: 'vor {0} ms', ageS: 'vor {0} s', lightSensor: 'Sensor antwortet',
      lightBroker: 'Broker verbunden', lightStream: 'Datenstrom aktiv',
      readout: '{0}  Wert {1}  (Nr. {2})', paused: 'angehalten',
      videoBusy: 'Vor weniger als einer Sekunde wurde eine Videozeile geholt; in {0} s erneut versuchen.',
      videoTaking: 'Videozeile wird geholt…', videoTaken: 'Videozeile von {0}.',
      videoFailed: 'Keine Videozeile: {0}', requestFailed: 'Das Gateway hat nicht geantwortet ({0}).',
      doctorRunning: 'Anschluss wird geprüft…', doctorNone: 'Die Prüfung hat nichts zu melden.',
      doctorToken: 'Die Anschlussprüfung braucht das Schreib-Token: Sie öffnet den Anschluss neu und unterbricht die Messung. Das Token unter Parameterwörter eingeben.',
      doctorOff: 'Die Anschlussprüfung braucht das Schreib-Token: Sie öffnet den Anschluss neu und unterbricht die Messung. Schreiben ist auf diesem Gateway ausgeschaltet; der Betreiber schaltet es ein, indem er serve mit --http-token-file DATEI startet.',
      doctorBusy: 'Zu viele Sensoraufträge warten; in {0} s erneut versuchen.',
      doctorBusyNow: 'Zu viele Sensoraufträge warten; gleich erneut versuchen.',
      statsResetDone: 'Statistik zurückgesetzt.', cpNone: 'Cp und Cpk: {0}',
      noChanges: 'Kein Wort weicht vom RAM des Sensors ab - nichts gesendet.',
      written: 'Geschrieben: {0}.', writtenEeprom: 'In das EEPROM geschrieben: {0}.',
      teachDone: 'Eingelernt: Der Sollwert ist jetzt der gemessene Wert.',
      resetDone: 'Analog max und min zurückgesetzt.',
      err403: 'Schreiben ist auf diesem Gateway ausgeschaltet. Der Betreiber schaltet es ein, indem er serve mit --http-token-file DATEI startet.',
      err401: 'Das Token fehlt oder ist falsch; an den Sensor wurde nichts gesendet.',
      err422: '{0} = {1} liegt außerhalb von {2} bis {3}; nichts gesendet.',
      err400: 'Das Gateway hat die Anfrage abgelehnt: {0}',
      errOther: 'Schreiben fehlgeschlagen ({0}): {1}',
      eepromChanges: 'Diese Wörter im EEPROM des Sensors ändern sich dauerhaft:',
      eepromUnread: 'Das EEPROM des Sensors konnte nicht gelesen werden, daher ist unbekannt, welche Wörter sich ändern. Den Parametersatz trotzdem dauerhaft schreiben?',
      eepromSame: 'Das EEPROM enthält diesen Parametersatz bereits - nichts gesendet.',
      eepromCancelled: 'Schreiben in das EEPROM abgebrochen.',
      wordLine: '{0} (Wort {1}): {2} → {3}', notANumber: '{0}: keine ganze Zahl',
      days: '{0} d {1} h', hours: '{0} h {1} min', minutes: '{0} min {1} s', seconds: '{0} s',
      writesBy: '{0} von {1}: {2}',
      words: ['Lichtleistung', 'P-Modus', 'Videoschwelle', 'Modus des Analogausgangs',
        'Polarität', 'Auswertemodus', 'Auswertung links', 'Auswertung rechts', 'Sollwert',
        'Toleranz', 'Betriebsart', 'Hardware-Einstellung', 'Wort 12', 'Wort 13', 'Mittelung',
        'Wort 15'],
      meanings: ['Lichtleistung, 0 bis 1000', 'P-Modus, 0 (aus) oder 1 (ein)',
        'Videoschwelle, 50 bis 950', 'Modus des Analogausgangs, 0 bis 7', 'Polarität, 0 oder 1',
        'Auswertemodus, 0 bis 4',
        'linkes Ende des Auswertefensters, 1 bis zur Subpixelzahl des Sensors',
        'rechtes Ende des Auswertefensters, 1 bis zur Subpixelzahl des Sensors',
        'Sollwert, 0 bis 65535', 'Toleranz um den Sollwert, 1 bis 65535',
        'Betriebsart, 0 (LO-GAIN) oder 1 (HI-GAIN)', 'Hardware-Einstellung, 0 bis 3', '', '',
        'Mittelung, 0 bis 1024', '']
    }
  };

  const $ = (id) => document.getElementById(id);
  let lang = 'en';
  let numberFormats = {};

  const state = {
    info: null, params: null, limits: null, status: null, sample: null, stats: null,
    video: null, reserve: null, drift: null, trend: [], audit: [], lastSampleAt: 0, lastMessageAt: 0, streamOpen: false,
    paused: false, dirty: false
  };
  const series = { t: [], v: [], seq: [] };
  let strip = null;
  let histogram = null;
  let videoChart = null;
  let reserveChart = null;
  // Settled once the first value is shown or the gateway has none to show: the charts wait for
  // it, so the value does not wait for them.
  let firstSettled = null;
  const firstValue = new Promise((resolve) => { firstSettled = resolve; });

  function t(key, ...args) {
    const text = TEXT[lang][key] !== undefined ? TEXT[lang][key] : TEXT.en[key];
    return String(text).replace(/\{(\d)\}/g, (m, i) => args[Number(i)]);
  }

  function fmt(value, digits) {
    if (value === null || value === undefined || Number.isNaN(value)) return '–';
    const key = String(digits);
    if (!numberFormats[key]) {
      numberFormats[key] = new Intl.NumberFormat(lang === 'de' ? 'de-DE' : 'en-GB', {
        minimumFractionDigits: digits || 0, maximumFractionDigits: digits || 0
      });
    }
    return numberFormats[key].format(value);
  }

  function setText(id, text) {
    const el = $(id);
    if (el.textContent !== text) el.textContent = text;
  }

  // Messages are kept as functions of the language, so the switch translates them too.
  const messages = new Map();

  function setMessage(id, say, kind) {
    messages.set(id, say);
    const el = $(id);
    el.textContent = say();
    el.dataset.kind = kind || '';
  }

  // ---- language ------------------------------------------------------------------------

  function chooseLanguage() {
    const stored = localStorage.getItem('kvex-lang');
    if (stored === 'de' || stored === 'en') return stored;
    const wanted = navigator.languages && navigator.languages.length ? navigator.languages
      : [navigator.language || 'en'];
    for (const tag of wanted) {
      const base = String(tag).toLowerCase().slice(0, 2);
      if (base === 'de' || base === 'en') return base;
    }
    return 'en';
  }

  function applyLanguage(next) {
    lang = next;
    numberFormats = {};
    document.documentElement.lang = lang;
    document.querySelectorAll('[data-i18n]').forEach((el) => {
      el.textContent = t(el.dataset.i18n);
    });
    messages.forEach((say, id) => { $(id).textContent = say(); });
    document.querySelectorAll('.lang button').forEach((b) => {
      b.setAttribute('aria-pressed', String(b.dataset.lang === lang));
    });
    $('light-sensor').title = t('lightSensor');
    $('light-broker').title = t('lightBroker');
    $('light-stream').title = t('lightStream');
    $('pause').textContent = state.paused ? t('resume') : t('pause');
    renderWords();
    renderSample();
    renderStatus();
    renderInfo();
    renderStats();
    renderAudit();
    renderReserve();
    renderDrift();
  }

  // ---- HTTP ----------------------------------------------------------------------------

  async function getJson(path) {
    const response = await fetch(path, { cache: 'no-store' });
    if (!response.ok) throw new Error(String(response.status));
    return response.json();
  }

  function token() {
    return $('token').value.trim();
  }

  async function send(method, path, body) {
    const headers = {};
    const secret = token();
    if (secret) headers.Authorization = 'Bearer ' + secret;
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    const response = await fetch(path, {
      method, headers, cache: 'no-store',
      body: body === undefined ? undefined : JSON.stringify(body)
    });
    let answer = null;
    try {
      answer = await response.json();
    } catch (e) {
      answer = null;
    }
    return { status: response.status, ok: response.ok, headers: response.headers, answer };
  }

  function explainRefusal(result) {
    const a = result.answer || {};
    if (result.status === 403) return t('err403');
    if (result.status === 401) return t('err401');
    if (result.status === 422) {
      const i = WORDS.indexOf(a.word);
      const name = i >= 0 ? TEXT[lang].words[i] : String(a.word);
      return t('err422', name, a.value, a.min, a.max);
    }
    if (result.status === 400) return t('err400', a.error || '');
    return t('errOther', result.status, a.error || '');
  }

  // ---- live ----------------------------------------------------------------------------

  function sampleTime(sample) {
    const parsed = Date.parse(sample.ts);
    return Number.isNaN(parsed) ? Date.now() / 1000 : parsed / 1000;
  }

  function takeSample(sample) {
    if (!state.sample) document.body.dataset.firstValueMs = String(Math.round(performance.now()));
    state.sample = sample;
    state.lastSampleAt = performance.now();
    series.t.push(sampleTime(sample));
    series.v.push(sample.value);
    series.seq.push(sample.seq);
    state.dirty = true;
    renderSample();
    firstSettled();
  }

  function renderSample() {
    const s = state.sample;
    const box = $('value-box');
    if (!s) {
      box.dataset.state = 'none';
      setText('verdict', t('noSample'));
      return;
    }
    box.dataset.state = s.in_tol ? 'in' : 'out';
    box.dataset.value = String(s.value);
    box.dataset.seq = String(s.seq);
    setText('value', fmt(s.value));
    setText('value-um', s.um === null || s.um === undefined ? '' : fmt(s.um, 1) + ' µm');
    setText('verdict', s.in_tol ? t('inTolYes') : t('inTolNo'));
    setText('left', fmt(s.left));
    setText('right', fmt(s.right));
    setText('setpoint', fmt(s.setpoint));
    setText('tol', '± ' + fmt(s.tol));
    setText('ana-max', fmt(s.ana_max));
    setText('ana-min', fmt(s.ana_min));
    setText('seq', fmt(s.seq));
  }

  function trimSeries() {
    const newest = series.t.length ? series.t[series.t.length - 1] : 0;
    let drop = 0;
    while (drop < series.t.length && series.t[drop] < newest - KEEP_SECONDS) drop++;
    if (drop > 0) {
      series.t.splice(0, drop);
      series.v.splice(0, drop);
      series.seq.splice(0, drop);
    }
  }

  function chartWidth(el) {
    return Math.max(200, el.clientWidth);
  }

  function drawToleranceBand(u) {
    const s = state.sample;
    if (!s) return;
    const ctx = u.ctx;
    const low = s.setpoint - s.tol;
    const high = s.setpoint + s.tol;
    const y0 = u.valToPos(high, 'y', true);
    const y1 = u.valToPos(low, 'y', true);
    const top = Math.max(u.bbox.top, Math.min(y0, y1));
    const bottom = Math.min(u.bbox.top + u.bbox.height, Math.max(y0, y1));
    if (bottom <= top) return;
    ctx.save();
    ctx.fillStyle = 'rgba(27, 127, 59, 0.10)';
    ctx.fillRect(u.bbox.left, top, u.bbox.width, bottom - top);
    ctx.restore();
  }

  function makeStrip() {
    const el = $('strip');
    strip = new uPlot({
      width: chartWidth(el),
      height: window.innerWidth < 640 ? 200 : 260,
      scales: { x: { time: true } },
      series: [{}, { stroke: '#1d5fbf', width: 1, points: { show: false } }],
      axes: [{ stroke: '#5b6675', grid: { stroke: '#eceff3' }, space: 90,
        values: (u, splits) => splits.map(clockLabel) },
      { stroke: '#5b6675', grid: { stroke: '#eceff3' }, size: 56 }],
      legend: { show: false },
      cursor: { drag: { x: false, y: false }, points: { size: 6 } },
      hooks: { drawAxes: [drawToleranceBand], setCursor: [showReadout] }
    }, [[], []], el);
  }

  function clockLabel(seconds) {
    return new Date(seconds * 1000).toLocaleTimeString(lang === 'de' ? 'de-DE' : 'en-GB');
  }

  function showReadout(u) {
    const i = u.cursor.idx;
    if (i === null || i === undefined || i >= u.data[0].length) {
      setText('readout', state.paused ? t('paused') : '');
      return;
    }
    const clock = clockLabel(u.data[0][i]) + '.' +
      String(Math.round(u.data[0][i] * 1000) % 1000).padStart(3, '0');
    setText('readout', t('readout', clock, fmt(u.data[1][i]), u.seqs ? u.seqs[i] : '–'));
  }

  function redrawStrip() {
    if (!strip || state.paused || !state.dirty) return;
    state.dirty = false;
    trimSeries();
    const span = Number($('span').value);
    const newest = series.t.length ? series.t[series.t.length - 1] : Date.now() / 1000;
    let first = 0;
    while (first < series.t.length && series.t[first] < newest - span) first++;
    strip.seqs = series.seq.slice(first);
    strip.setData([series.t.slice(first), series.v.slice(first)]);
    strip.setScale('x', { min: newest - span, max: newest });
    $('strip').dataset.points = String(strip.data[0].length);
  }

  function renderAge() {
    const ageEl = $('age');
    if (!state.lastSampleAt) {
      setText('age', t('ageNone'));
      return;
    }
    const age = performance.now() - state.lastSampleAt;
    setText('age', age < 1000 ? t('ageMs', Math.round(age)) : t('ageS', fmt(age / 1000, 1)));
    ageEl.dataset.ms = String(Math.round(age));
    // A value older than a few answers is no longer what the sensor sees: shown dimmed.
    $('value-box').classList.toggle('stale', age > 2000);
    const alive = state.streamOpen && performance.now() - state.lastMessageAt < 3000;
    $('light-stream').dataset.state = alive ? 'on' : 'bad';
  }

  // ---- status and identity ---------------------------------------------------------------

  function duration(seconds) {
    const s = Math.floor(seconds);
    if (s >= 86400) return t('days', Math.floor(s / 86400), Math.floor((s % 86400) / 3600));
    if (s >= 3600) return t('hours', Math.floor(s / 3600), Math.floor((s % 3600) / 60));
    if (s >= 60) return t('minutes', Math.floor(s / 60), s % 60);
    return t('seconds', s);
  }

  function renderStatus() {
    const st = state.status;
    if (!st) return;
    $('light-sensor').dataset.state = st.sensor_answering ? 'on' : 'bad';
    $('light-broker').dataset.state =
      st.mqtt === 'connected' ? 'on' : st.mqtt === 'off' ? 'off' : 'bad';
    setText('gw-status', st.status === 'online' ? t('online') : t('noSensor'));
    setText('gw-mqtt', st.mqtt === 'connected' ? t('connected')
      : st.mqtt === 'off' ? t('off') : t('disconnected'));
    setText('gw-queue', fmt(st.queue_depth));
    setText('gw-dropped', fmt(st.dropped));
    setText('gw-samples', fmt(st.samples));
    setText('gw-errors', fmt(st.serial_errors));
    setText('gw-uptime', st.uptime_s === undefined ? '–' : duration(st.uptime_s));
    setText('gw-version', st.version || '–');
    setText('gw-store', !st.store || st.store === 'off' ? t('off')
      : st.store === 'ok' ? t('storeOk') : t('storeFailing', st.store.replace(/^failing: /, '')));
    $('writes-off').hidden = !!st.writes_enabled;
    document.body.dataset.writes = st.writes_enabled ? 'on' : 'off';
  }

  function renderInfo() {
    const i = state.info;
    if (!i) return;
    setText('in-type', String(i.sensor_type));
    setText('in-board', String(i.board));
    setText('in-pixels', fmt(i.pixels));
    setText('in-firmware', i.firmware || '–');
    setText('in-pitch', i.pitch_um === null || i.pitch_um === undefined ? '–'
      : fmt(i.pitch_um, 3) + ' µm');
    setText('in-device', i.device || '–');
    setText('device', i.device || '');
  }

  // ---- parameter words and writes --------------------------------------------------------

  function renderWords(resetInputs) {
    const body = $('words');
    if (!body.rows.length) {
      WORDS.forEach((name, i) => {
        const row = body.insertRow();
        row.dataset.word = name;
        row.insertCell().textContent = String(i);
        row.insertCell();
        const meaning = row.insertCell();
        meaning.className = 'meaning';
        const ram = row.insertCell();
        ram.className = 'num';
        const input = document.createElement('input');
        input.type = 'number';
        input.name = name;
        input.step = '1';
        input.addEventListener('input', markChanged);
        row.insertCell().appendChild(input);
      });
    }
    WORDS.forEach((name, i) => {
      const row = body.rows[i];
      row.cells[1].textContent = TEXT[lang].words[i];
      row.cells[2].textContent = TEXT[lang].meanings[i];
      const value = state.params ? state.params[name] : undefined;
      row.cells[3].textContent = value === undefined ? '–' : String(value);
      const input = row.cells[4].firstChild;
      const limit = state.limits && state.limits[name];
      if (limit) {
        input.min = String(limit.min);
        input.max = String(limit.max);
        input.title = limit.min + ' … ' + limit.max;
      }
      if (value !== undefined &&
          (resetInputs || input.value === '' || input.dataset.shown === input.value)) {
        input.value = String(value);
        input.dataset.shown = String(value);
      }
    });
    markChanged();
  }

  function markChanged() {
    WORDS.forEach((name, i) => {
      const row = $('words').rows[i];
      if (!row) return;
      const input = row.cells[4].firstChild;
      row.classList.toggle('changed', !!state.params && input.value !== '' &&
        Number(input.value) !== state.params[name]);
    });
  }

  function formWords() {
    const words = {};
    const bad = [];
    WORDS.forEach((name, i) => {
      const text = $('words').rows[i].cells[4].firstChild.value.trim();
      if (text === '') return;
      if (!/^\d+$/.test(text)) {
        bad.push(t('notANumber', TEXT[lang].words[i]));
        return;
      }
      words[name] = Number(text);
    });
    return { words, bad };
  }

  function changedWords(words, against) {
    const changed = {};
    WORDS.forEach((name) => {
      if (words[name] !== undefined && (!against || words[name] !== against[name])) {
        changed[name] = words[name];
      }
    });
    return changed;
  }

  function wordList(changed, before) {
    return Object.keys(changed).map((name) => {
      const i = WORDS.indexOf(name);
      return t('wordLine', TEXT[lang].words[i], i, before ? before[name] : '?', changed[name]);
    });
  }

  function askEeprom(lines, text) {
    return new Promise((resolve) => {
      const dialog = $('eeprom-dialog');
      $('eeprom-text').textContent = text;
      const list = $('eeprom-changes');
      list.replaceChildren(...lines.map((line) => {
        const li = document.createElement('li');
        li.textContent = line;
        return li;
      }));
      dialog.addEventListener('close', () => resolve(dialog.returnValue === 'write'),
        { once: true });
      dialog.returnValue = '';
      dialog.showModal();
    });
  }

  async function writeWords(event) {
    event.preventDefault();
    keepToken();
    const { words, bad } = formWords();
    if (bad.length) {
      setMessage('write-msg', () => bad.join('; '), 'error');
      return;
    }
    const toEeprom = $('target').value === 'eeprom';
    let changed;
    let before = state.params;
    if (toEeprom) {
      let eeprom = null;
      try {
        eeprom = await getJson('/api/params?from=eeprom');
      } catch (e) {
        eeprom = null;
      }
      const full = Object.assign({}, state.params || {}, words);
      if (eeprom) {
        changed = changedWords(full, eeprom);
        if (!Object.keys(changed).length) {
          setMessage('write-msg', () => t('eepromSame'), '');
          return;
        }
        if (!await askEeprom(wordList(changed, eeprom), t('eepromChanges'))) {
          setMessage('write-msg', () => t('eepromCancelled'), '');
          return;
        }
      } else if (!await askEeprom([], t('eepromUnread'))) {
        setMessage('write-msg', () => t('eepromCancelled'), '');
        return;
      }
      // The EEPROM takes the whole set, so every word goes with the request.
      changed = full;
      before = eeprom;
    } else {
      changed = changedWords(words, state.params);
      if (!Object.keys(changed).length) {
        setMessage('write-msg', () => t('noChanges'), '');
        return;
      }
    }
    const result = await send('PUT', toEeprom ? '/api/params?to=eeprom' : '/api/params', changed);
    refreshAudit();
    if (!result.ok) {
      setMessage('write-msg', () => explainRefusal(result), 'error');
      return;
    }
    const written = changedWords(changed, before);
    setMessage('write-msg', () => t(toEeprom ? 'writtenEeprom' : 'written',
      wordList(written, before).join(', ') || '–'), 'ok');
    refreshParams(true);
  }

  async function postAction(path, doneKey) {
    keepToken();
    const result = await send('POST', path);
    refreshAudit();
    if (!result.ok) {
      setMessage('write-msg', () => explainRefusal(result), 'error');
      return;
    }
    setMessage('write-msg', () => t(doneKey), 'ok');
    refreshParams(true);
  }

  async function refreshAudit() {
    try {
      const a = await getJson('/api/audit');
      state.audit = Array.isArray(a) ? a : a.entries || [];
      renderAudit();
    } catch (e) {
      // The stream brings the entries too; the list stays as it is meanwhile.
    }
  }

  function keepToken() {
    if ($('token-keep').checked && token()) sessionStorage.setItem('kvex-token', token());
    else sessionStorage.removeItem('kvex-token');
  }

  function renderAudit() {
    const list = $('audit');
    list.replaceChildren(...state.audit.slice(-20).reverse().map((entry) => {
      const li = document.createElement('li');
      const when = document.createElement('time');
      when.textContent = entry.ts || '';
      li.appendChild(when);
      li.appendChild(document.createTextNode(
        t('writesBy', entry.what || '', entry.client || '?', entry.result || '')));
      return li;
    }));
  }

  // ---- statistics ------------------------------------------------------------------------

  function renderStats() {
    const s = state.stats;
    if (!s) return;
    setText('st-count', fmt(s.count));
    setText('st-mean', fmt(s.mean, 2));
    setText('st-std', fmt(s.std_dev, 3));
    setText('st-min', fmt(s.min));
    setText('st-max', fmt(s.max));
    setText('st-intol', s.in_tol_share === null || s.in_tol_share === undefined ? '–'
      : fmt(100 * s.in_tol_share, 1) + ' %');
    setText('st-cp', fmt(s.cp, 2));
    setText('st-cpk', fmt(s.cpk, 2));
    setText('st-reason', s.cp_reason ? t('cpNone', s.cp_reason) : '');
    const h = s.histogram;
    if (!h || !h.counts || !h.counts.length || typeof uPlot !== 'function') return;
    const xs = h.counts.map((c, i) => h.lower + (i + 0.5) * h.width);
    const el = $('histogram');
    if (!histogram) {
      histogram = new uPlot({
        width: chartWidth(el),
        height: 160,
        scales: { x: { time: false } },
        series: [{}, {
          stroke: '#1d5fbf', fill: 'rgba(29, 95, 191, 0.35)', width: 1,
          paths: uPlot.paths.bars({ size: [0.9, 60] }), points: { show: false }
        }],
        axes: [{ stroke: '#5b6675', grid: { show: false } },
          { stroke: '#5b6675', grid: { stroke: '#eceff3' }, size: 48 }],
        legend: { show: false },
        cursor: { show: false },
        hooks: { drawAxes: [drawStatsWindow] }
      }, [xs, h.counts], el);
    } else {
      histogram.setData([xs, h.counts]);
    }
  }

  function drawStatsWindow(u) {
    const w = state.stats && state.stats.window;
    if (!w) return;
    const x0 = u.valToPos(w.lower, 'x', true);
    const x1 = u.valToPos(w.upper, 'x', true);
    const left = Math.max(u.bbox.left, Math.min(x0, x1));
    const right = Math.min(u.bbox.left + u.bbox.width, Math.max(x0, x1));
    if (right <= left) return;
    u.ctx.save();
    u.ctx.fillStyle = 'rgba(27, 127, 59, 0.10)';
    u.ctx.fillRect(left, u.bbox.top, right - left, u.bbox.height);
    u.ctx.restore();
  }

  async function refreshStats() {
    try {
      state.stats = await getJson('/api/stats');
      renderStats();
    } catch (e) {
      // The next round asks again; the last figures stay in sight meanwhile.
    }
  }

  // ---- video line ------------------------------------------------------------------------

  function videoPositions(v) {
    const n = v.pixels.length;
    const length = v.positions || v.pixel_count || 1024;
    return v.pixels.map((p, i) => i * length / n);
  }

  function drawVideoMarks(u) {
    const v = state.video;
    if (!v) return;
    const ctx = u.ctx;
    const top = u.bbox.top;
    const bottom = top + u.bbox.height;
    ctx.save();
    const line = (position, colour, dash) => {
      const x = u.valToPos(position, 'x', true);
      if (!Number.isFinite(x)) return;
      ctx.strokeStyle = colour;
      ctx.setLineDash(dash.map((d) => d * devicePixelRatio));
      ctx.beginPath();
      ctx.moveTo(x, top);
      ctx.lineTo(x, bottom);
      ctx.stroke();
    };
    ctx.lineWidth = 2 * devicePixelRatio;
    line(v.eval_begin, '#1b7f3b', [3, 3]);
    line(v.eval_end, '#1b7f3b', [3, 3]);
    [v.left, v.right].forEach((edge) => { if (edge) line(edge, '#c62828', []); });
    ctx.restore();
  }

  function videoCsv(v) {
    const xs = videoPositions(v);
    const lines = ['position (units),level,threshold'];
    v.pixels.forEach((p, i) => lines.push(xs[i] + ',' + p + ',' + v.threshold));
    return lines.join('\n') + '\n';
  }

  function drawVideo(v) {
    state.video = v;
    const xs = videoPositions(v);
    const threshold = v.pixels.map(() => v.threshold);
    const el = $('video-chart');
    el.dataset.pixels = JSON.stringify(v.pixels);
    el.dataset.threshold = String(v.threshold);
    const data = [xs, v.pixels, threshold];
    if (!videoChart) {
      videoChart = new uPlot({
        width: chartWidth(el),
        height: window.innerWidth < 640 ? 200 : 240,
        scales: { x: { time: false } },
        series: [{}, { stroke: '#1d5fbf', fill: 'rgba(29, 95, 191, 0.12)', width: 1,
          points: { show: false } },
        { stroke: '#b26a00', width: 1, dash: [6, 4], points: { show: false } }],
        axes: [{ stroke: '#5b6675', grid: { stroke: '#eceff3' } },
          { stroke: '#5b6675', grid: { stroke: '#eceff3' }, size: 48 }],
        legend: { show: false },
        cursor: { drag: { x: false, y: false } },
        hooks: { draw: [drawVideoMarks] }
      }, data, el);
    } else {
      videoChart.setData(data);
    }
    const link = $('video-csv');
    if (link.href.startsWith('blob:')) URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(new Blob([videoCsv(v)], { type: 'text/csv' }));
    link.hidden = false;
  }

  async function takeVideo() {
    const button = $('video-take');
    button.disabled = true;
    setMessage('video-msg', () => t('videoTaking'), '');
    try {
      const response = await fetch('/api/video', { cache: 'no-store' });
      if (response.status === 429) {
        const wait = Number(response.headers.get('Retry-After')) || 1;
        setMessage('video-msg', () => t('videoBusy', wait), 'error');
        return;
      }
      if (!response.ok) {
        let reason = String(response.status);
        try {
          reason = (await response.json()).error || reason;
        } catch (e) {
          reason = String(response.status);
        }
        setMessage('video-msg', () => t('videoFailed', reason), 'error');
        return;
      }
      const v = await response.json();
      drawVideo(v);
      const when = v.ts ? new Date(Date.parse(v.ts)) : new Date();
      setMessage('video-msg', () => t('videoTaken',
        when.toLocaleTimeString(lang === 'de' ? 'de-DE' : 'en-GB')), 'ok');
    } catch (e) {
      setMessage('video-msg', () => t('requestFailed', e.message), 'error');
    } finally {
      setTimeout(() => { button.disabled = false; }, 1000);
    }
  }

  // ---- port check ------------------------------------------------------------------------

  // The check reopens the port and pauses the measurement, so the gateway asks for the write
  // token as it does for writes.
  function explainDoctorRefusal(result) {
    const a = result.answer || {};
    if (result.status === 403 && !(state.status && state.status.writes_enabled)) {
      return t('doctorOff');
    }
    if (result.status === 403 || result.status === 401) return t('doctorToken');
    if (result.status === 429) {
      const wait = Number(result.headers.get('Retry-After'));
      return wait > 0 ? t('doctorBusy', wait) : t('doctorBusyNow');
    }
    return t('requestFailed', a.error ? result.status + ': ' + a.error : result.status);
  }

  async function runDoctor() {
    const button = $('doctor-run');
    button.disabled = true;
    setMessage('doctor-msg', () => t('doctorRunning'), '');
    try {
      const result = await send('GET', '/api/doctor');
      if (!result.ok || result.answer === null) {
        $('doctor').replaceChildren();
        setMessage('doctor-msg', () => explainDoctorRefusal(result), 'error');
        return;
      }
      const report = result.answer;
      const findings = Array.isArray(report) ? report : report.checks || report.findings || [];
      $('doctor').replaceChildren(...findings.map((f) => {
        const verdict = String(f.result || f.verdict || '');
        const li = document.createElement('li');
        li.dataset.verdict = verdict.toLowerCase();
        const head = document.createElement('b');
        head.textContent = verdict + ' ';
        li.appendChild(head);
        li.appendChild(document.createTextNode((f.name || f.check || '') + ': ' +
          (f.detail || f.text || '')));
        if (f.fix) {
          const fix = document.createElement('span');
          fix.className = 'fix';
          fix.textContent = f.fix;
          li.appendChild(fix);
        }
        return li;
      }));
      setMessage('doctor-msg', () => findings.length ? '' : t('doctorNone'), '');
    } catch (e) {
      setMessage('doctor-msg', () => t('requestFailed', e.message), 'error');
    } finally {
      button.disabled = false;
    }
  }

  // ---- stream and reconnection -------------------------------------------------------------

  let streamSeq = null;
  let missed = 0;
  let retryMs = 500;

  // ---- signal reserve ------------------------------------------------------------------------

  function reserveLevel(r) {
    if (!r || r.health === 'unknown' || r.health === undefined) return 'unknown';
    if (r.reserve_state === 'lost' || (r.signal_reserve !== null && r.signal_reserve <= 0)) {
      return 'lost';
    }
    return r.health === 'warn' ? 'warn' : 'ok';
  }

  function takeReading(r) {
    if (!r || !r.ts || r.signal_reserve === undefined) return;
    const last = state.trend[state.trend.length - 1];
    if (last && last.ts === r.ts) return;
    state.trend.push({ ts: r.ts, signal_reserve: r.signal_reserve, reserve_state: r.reserve_state,
      contrast: r.contrast, saturated: r.saturated });
  }

  function renderReserve() {
    const r = state.reserve;
    const box = $('reserve-value');
    const level = reserveLevel(r);
    box.dataset.level = level;
    if (!r && state.status && state.status.health === 'off') {
      setText('reserve-value', t('reserveOff'));
    } else if (!r || !r.health || r.health === 'unknown') {
      setText('reserve-value', t('reserveNone'));
    } else if (r.reserve_state === 'lost') {
      setText('reserve-value', t('reserveLost'));
    } else if (r.reserve_state === 'no_object') {
      setText('reserve-value', t('reserveNoObject', fmt(r.signal_reserve, 2)));
    } else {
      setText('reserve-value', fmt(r.signal_reserve, 2));
    }
    setText('reserve-contrast', r ? fmt(r.contrast, 2) : '–');
    setText('reserve-saturated', !r || r.saturated === null || r.saturated === undefined ? '–'
      : (r.saturated ? t('yes') : t('no')));
    setText('reserve-ts', r && r.ts ? new Date(r.ts).toLocaleString(lang === 'de' ? 'de-DE'
      : 'en-GB') : '–');
    setText('reserve-failures', r ? fmt(r.reserve_failures) : '–');
    const advice = $('reserve-advice');
    advice.hidden = !(r && r.health === 'warn');
    if (!advice.hidden) setText('reserve-advice', t('reserveAdvice', fmt(r.reserve_warn, 2)));
    renderProposal();
    drawReserve();
  }

  // The banner says what the last drift check found, word by word; it is gone while all agree.
  function renderDrift() {
    const d = state.drift;
    const banner = $('drift-banner');
    banner.hidden = !(d && d.drift === 'drift');
    if (banner.hidden) return;
    const says = [];
    if (d.says.includes('differs from the approved set')) says.push(t('driftApproved', d.golden_file));
    if (d.says.includes('unsaved changes')) says.push(t('driftUnsaved'));
    setText('drift-says', says.join(' '));
    setText('drift-when',
      t('driftChecked', new Date(d.ts).toLocaleString(lang === 'de' ? 'de-DE' : 'en-GB')));
    const list = $('drift-words');
    list.replaceChildren(...d.words.map((w) => {
      const item = document.createElement('li');
      const name = TEXT[lang].words[w.word] || w.name;
      item.textContent = d.golden
        ? t('driftWord', name, w.word, w.approved, w.eeprom, w.ram)
        : t('driftWordNoApproved', name, w.word, w.eeprom, w.ram);
      return item;
    }));
  }

  // The threshold and window the gateway finds in its last reserve line: shown beside the
  // reserve, set by whoever decides (the panel or kvex-rtn-cli propose --apply).
  function renderProposal() {
    const p = state.proposal;
    const box = $('reserve-proposal');
    box.hidden = !(p && p.known);
    if (box.hidden) return;
    const now = state.params ? state.params.v_thd : undefined;
    setText('reserve-proposal', p.proposed
      ? t('proposal', fmt(p.v_thd), now === undefined ? '–' : fmt(now), fmt(p.e_beg), fmt(p.e_end),
        fmt(Math.min(p.lit_margin, p.shadow_margin)), fmt(p.signal_reserve, 2))
      : t('noProposal', p.advice || p.reason));
  }

  async function loadProposal() {
    try {
      state.proposal = await getJson('/api/proposal');
    } catch (e) {
      state.proposal = null; // an older gateway
    }
    renderProposal();
  }

  function drawWarnLine(u) {
    const r = state.reserve;
    if (!r || r.reserve_warn === undefined) return;
    const y = Math.round(u.valToPos(r.reserve_warn, 'y', true));
    const ctx = u.ctx;
    ctx.save();
    ctx.strokeStyle = '#c77700';
    ctx.setLineDash([8, 6]);
    ctx.lineWidth = 2;
    ctx.beginPath();
    ctx.moveTo(u.bbox.left, y);
    ctx.lineTo(u.bbox.left + u.bbox.width, y);
    ctx.stroke();
    ctx.restore();
  }

  function drawReserve() {
    if (typeof uPlot !== 'function' || !reserveReady) return;
    const points = state.trend.filter((p) => p.signal_reserve !== null);
    const xs = points.map((p) => Date.parse(p.ts) / 1000);
    const ys = points.map((p) => p.signal_reserve);
    const el = $('reserve-chart');
    el.dataset.values = JSON.stringify(ys);
    const warn = state.reserve && state.reserve.reserve_warn !== undefined
      ? state.reserve.reserve_warn : 0.3;
    const top = Math.max(1, warn * 1.5, ...ys.map((v) => v * 1.1));
    if (!reserveChart) {
      reserveChart = new uPlot({
        width: chartWidth(el),
        height: 180,
        scales: { y: { range: () => [Math.min(0, ...ys), top] } },
        series: [{}, { stroke: '#1d5fbf', width: 2, points: { show: true, size: 5 } }],
        axes: [{ stroke: '#5b6675', grid: { stroke: '#eceff3' } },
          { stroke: '#5b6675', grid: { stroke: '#eceff3' }, size: 48 }],
        legend: { show: false },
        hooks: { draw: [drawWarnLine] }
      }, [xs, ys], el);
    } else {
      reserveChart.setData([xs, ys]);
    }
  }

  let reserveReady = false;
  async function loadReserveTrend() {
    try {
      const trend = await getJson('/api/reserve');
      const known = new Set(state.trend.map((p) => p.ts));
      state.trend = trend.readings.filter((p) => !known.has(p.ts)).concat(state.trend);
      state.trend.sort((a, b) => Date.parse(a.ts) - Date.parse(b.ts));
    } catch (e) {
      // An older gateway without the reserve: the section stays empty.
    }
    reserveReady = true;
    renderReserve();
  }

  function onMessage(text) {
    state.lastMessageAt = performance.now();
    let message;
    try {
      message = JSON.parse(text);
    } catch (e) {
      return;
    }
    switch (message.type) {
      case 'meas': {
        const samples = Array.isArray(message.sample) ? message.sample : [message.sample];
        samples.forEach((s) => {
          if (!s || s.replay) return;
          // Answers the stream skipped would be missing from the chart: count them, so a lost
          // answer is seen rather than drawn over.
          if (streamSeq !== null && s.seq > streamSeq + 1) {
            missed += s.seq - streamSeq - 1;
            document.body.dataset.missed = String(missed);
          }
          streamSeq = s.seq;
          takeSample(s);
        });
        break;
      }
      case 'status':
        state.status = Object.assign({}, state.status,
          typeof message.status === 'object' ? message.status : message);
        renderStatus();
        if (!state.reserve) renderReserve();
        if (state.status.last_sample_age_ms === null) firstSettled();
        break;
      case 'info':
        state.info = message.info;
        renderInfo();
        break;
      case 'health':
        if (!state.proposal || state.proposal.ts !== message.ts) loadProposal();
        state.reserve = message;
        takeReading(message);
        renderReserve();
        break;
      case 'drift':
        state.drift = message;
        renderDrift();
        break;
      case 'params':
        state.params = message.params;
        renderWords();
        break;
      case 'audit':
        if (!state.audit.some((e) => JSON.stringify(e) === JSON.stringify(message.entry))) {
          state.audit.push(message.entry);
        }
        renderAudit();
        break;
      default:
        break;
    }
  }

  function streamOpened() {
    streamSeq = null;
    state.streamOpen = true;
    state.lastMessageAt = performance.now();
    retryMs = 500;
    $('light-stream').dataset.state = 'on';
    // The stream opens with the identity, the words and the last value when the gateway has them,
    // so the page never asks for what is not there yet; the rest may differ after a restart.
    loadAll();
  }

  function streamLost() {
    firstSettled();
    state.streamOpen = false;
    $('light-stream').dataset.state = 'bad';
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 5000);
  }

  // A connection that never opens is retried like a lost one: the gateway may be restarting.
  function connect() {
    const ws = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') +
      location.host + '/ws');
    ws.onopen = () => streamOpened();
    ws.onmessage = (e) => onMessage(e.data);
    ws.onclose = () => streamLost();
  }

  // After a write of the operator's the form shows the sensor's words again; otherwise what the
  // operator is typing is left alone.
  async function refreshParams(afterWrite) {
    try {
      state.params = await getJson('/api/params');
      renderWords(afterWrite);
    } catch (e) {
      // Shown as before until the stream brings them.
    }
  }

  async function refreshStatus() {
    try {
      state.status = await getJson('/api/status');
      renderStatus();
      if (state.status.last_sample_age_ms === null) firstSettled();
    } catch (e) {
      $('light-sensor').dataset.state = 'bad';
    }
  }

  function loadAll() {
    getJson('/api/limits').then((l) => { state.limits = l; renderWords(); }).catch(() => {});
    getJson('/api/drift').then((d) => { state.drift = d; renderDrift(); }).catch(() => {});
    refreshAudit();
    refreshStatus();
    refreshStats();
  }

  // ---- share -----------------------------------------------------------------------------

  function renderShare() {
    const url = location.origin + location.pathname;
    const link = $('share-link');
    link.href = url;
    link.textContent = url;
    const loopback = /^(127\.|localhost$|\[::1\]$)/.test(location.hostname);
    $('share-loopback').hidden = !loopback;
    if (typeof qrcode !== 'function') return;
    const qr = qrcode(0, 'M');
    qr.addData(url);
    qr.make();
    const canvas = $('qr');
    const modules = qr.getModuleCount();
    const quiet = 4;
    const scale = Math.max(1, Math.floor(canvas.width / (modules + 2 * quiet)));
    const offset = Math.floor((canvas.width - scale * modules) / 2);
    const ctx = canvas.getContext('2d');
    ctx.fillStyle = '#fff';
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    ctx.fillStyle = '#000';
    for (let r = 0; r < modules; r++) {
      for (let c = 0; c < modules; c++) {
        if (qr.isDark(r, c)) ctx.fillRect(offset + c * scale, offset + r * scale, scale, scale);
      }
    }
  }

  // ---- start -----------------------------------------------------------------------------

  function resizeCharts() {
    [[strip, 'strip'], [histogram, 'histogram'], [videoChart, 'video-chart'],
      [reserveChart, 'reserve-chart']].forEach(([c, id]) => {
      if (c) c.setSize({ width: chartWidth($(id)), height: c.height });
    });
  }

  function start() {
    // The stream is opened before anything else and the charts and the QR code are built only
    // after its first value, so the value shows without waiting for the chart library.
    connect();
    const keptToken = sessionStorage.getItem('kvex-token');
    if (keptToken) {
      $('token').value = keptToken;
      $('token-keep').checked = true;
    }
    applyLanguage(chooseLanguage());
    const libraries = new Promise((resolve) => {
      if (document.readyState === 'loading') {
        document.addEventListener('DOMContentLoaded', resolve, { once: true });
      } else {
        resolve();
      }
    });
    Promise.all([firstValue, libraries]).then(() => setTimeout(() => {
      makeStrip();
      renderStats();
      renderShare();
      loadReserveTrend();
    }));

    document.querySelectorAll('.lang button').forEach((b) => b.addEventListener('click', () => {
      localStorage.setItem('kvex-lang', b.dataset.lang);
      applyLanguage(b.dataset.lang);
    }));
    $('pause').addEventListener('click', () => {
      state.paused = !state.paused;
      $('pause').textContent = state.paused ? t('resume') : t('pause');
      state.dirty = true;
      redrawStrip();
    });
    $('span').addEventListener('change', () => { state.dirty = true; redrawStrip(); });
    $('stats-reset').addEventListener('click', async () => {
      const result = await send('POST', '/api/stats/reset');
      setMessage('stats-msg', () => result.ok ? t('statsResetDone') : explainRefusal(result),
        result.ok ? 'ok' : 'error');
      refreshStats();
    });
    $('video-take').addEventListener('click', takeVideo);
    $('doctor-run').addEventListener('click', runDoctor);
    $('write-form').addEventListener('submit', writeWords);
    $('teach').addEventListener('click', () => postAction('/api/teach', 'teachDone'));
    $('reset-extremes').addEventListener('click',
      () => postAction('/api/reset-max-min', 'resetDone'));
    $('token-keep').addEventListener('change', keepToken);
    window.addEventListener('resize', resizeCharts);

    setInterval(redrawStrip, REDRAW_MS);
    setInterval(renderAge, 250);
    setInterval(refreshStats, STATS_MS);
    setInterval(() => { if (!state.streamOpen) refreshStatus(); }, STATUS_MS);
  }

  start();
})();
