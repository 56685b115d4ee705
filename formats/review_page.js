// The review page's behaviour: the word under the playhead lit, words and the strip clickable, keys to play
// and step, to go to doubtful words, and to correct words and save the corrected document. Everything is found by binary search over start times and handled by one listener per kind of
// event, so a page of tens of thousands of words opens as fast as a short one.
(() => {
    'use strict';
    const data = JSON.parse(document.getElementById('data').textContent);
    const count = data.start.length;
    const start = Float64Array.from(data.start);
    const end = Float64Array.from(data.end);
    const text = document.getElementById('text');
    const spans = text.getElementsByTagName('span'); // one per word, in document order
    const audio = document.getElementById('audio');
    const strip = document.getElementById('strip');
    const playhead = document.getElementById('playhead');
    const header = document.querySelector('header');

    // An embedded recording travels as base64 text; the player gets it as a local object URL.
    const embedded = document.getElementById('audio-data');
    if (audio && embedded) {
        const base64 = embedded.textContent.trim();
        let bytes;
        if (typeof Uint8Array.fromBase64 === 'function') {
            bytes = Uint8Array.fromBase64(base64);
        } else {
            const binary = atob(base64);
            bytes = new Uint8Array(binary.length);
            for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
        }
        audio.src = URL.createObjectURL(new Blob([bytes], { type: embedded.dataset.type }));
        embedded.remove();
    }

    // Words with a real duration, in order of start, for finding the word that holds a time.
    const timed = [];
    for (let i = 0; i < count; i++) {
        if (!(data.flags[i] & 2) && end[i] > start[i]) timed.push(i);
    }
    for (let k = 1; k < timed.length; k++) {
        if (start[timed[k]] < start[timed[k - 1]]) {
            timed.sort((a, b) => start[a] - start[b] || a - b);
            break;
        }
    }
    const timedStart = Float64Array.from(timed, (i) => start[i]);

    // How many timed words start at or before `t`.
    function startedBy(t) {
        let lo = 0;
        let hi = timed.length;
        while (lo < hi) {
            const mid = (lo + hi) >> 1;
            if (timedStart[mid] <= t) lo = mid + 1;
            else hi = mid;
        }
        return lo;
    }

    // The word whose interval [start, end) holds `t`, the latest-starting one when they overlap; -1 for none.
    function wordAt(t) {
        const started = startedBy(t);
        for (let k = started - 1; k >= 0 && k >= started - 8; k--) {
            if (t < end[timed[k]]) return timed[k];
        }
        return -1;
    }

    let length = data.length;
    for (let i = 0; i < count; i++) length = Math.max(length, end[i]);
    let manualTime = 0; // the time shown when there is no recording to play
    let lit = -1;
    let chosen = -1; // a word clicked or stepped to, kept lit at its start even without a duration

    const now = () => (audio ? audio.currentTime : manualTime);

    function keepInView(span) {
        const box = span.getBoundingClientRect();
        const top = header.getBoundingClientRect().bottom;
        if (box.top < top + 8 || box.bottom > window.innerHeight - 8) {
            span.scrollIntoView({ block: 'center', behavior: 'smooth' });
        }
    }

    let stripWidth = 0; // measured when the strip is drawn, so that following the playhead forces no layout

    function update(scroll) {
        const t = now();
        playhead.style.transform = `translateX(${length > 0 ? Math.min(1, t / length) * stripWidth : 0}px)`;
        let word = wordAt(t);
        if (word < 0 && chosen >= 0 && Math.abs(t - start[chosen]) < 0.002) word = chosen;
        if (word === lit) return;
        if (lit >= 0) spans[lit].classList.remove('on');
        lit = word;
        if (lit >= 0) {
            spans[lit].classList.add('on');
            if (scroll) keepInView(spans[lit]);
        }
    }

    function seek(t, word) {
        chosen = word;
        if (audio) audio.currentTime = t;
        else manualTime = t;
        update(true);
    }

    // Timeline: the waveform, the words as marks below it (speaker colour, fillers and untimed words apart).
    const style = getComputedStyle(document.documentElement);
    const colour = (name) => style.getPropertyValue(name).trim();
    const speakerColours = [0, 1, 2, 3, 4, 5].map((k) => colour(`--s${k}`));
    const addedColour = colour('--added');
    const untimedColour = colour('--untimed');
    function draw() {
        const scale = window.devicePixelRatio || 1;
        const width = strip.clientWidth;
        const height = strip.clientHeight;
        stripWidth = width;
        strip.width = Math.round(width * scale);
        strip.height = Math.round(height * scale);
        const g = strip.getContext('2d');
        g.scale(scale, scale);
        const band = 10;
        const middle = (height - band - 4) / 2;
        const peaks = data.peaks;
        if (peaks.length > 0) {
            let loudest = 1;
            for (const p of peaks) loudest = Math.max(loudest, p);
            const covered = peaks.length > 0 && length > 0 ? Math.min(1, data.length / length) : 0;
            g.fillStyle = '#a8a29e';
            for (let x = 0; x < width * covered; x += 3) {
                const from = Math.floor((x / (width * covered)) * peaks.length);
                const to = Math.max(from + 1, Math.floor(((x + 3) / (width * covered)) * peaks.length));
                let peak = 0;
                for (let i = from; i < Math.min(to, peaks.length); i++) peak = Math.max(peak, peaks[i]);
                const half = Math.max(0.5, (peak / loudest) * (middle - 3));
                g.fillRect(x, middle + 2 - half, 2, 2 * half);
            }
        } else {
            g.fillStyle = '#d6d3d1';
            g.fillRect(0, middle + 1.5, width, 1);
        }
        if (length <= 0) return;
        const y = height - band - 2;
        let fill = '';
        for (let i = 0; i < count; i++) {
            const x = (start[i] / length) * width;
            let wanted = data.who[i] >= 0 ? speakerColours[data.who[i] % 6] : '#57534e';
            if (data.flags[i] & 1) wanted = addedColour;
            else if (data.flags[i] & 2) wanted = untimedColour;
            // Setting a colour parses it; neighbouring words mostly share one.
            if (wanted !== fill) g.fillStyle = fill = wanted;
            if (data.flags[i] & 2) g.fillRect(x - 0.5, y - 2, 1, band + 2);
            else g.fillRect(x, y, Math.max(1, ((end[i] - start[i]) / length) * width - 0.5), band);
        }
    }

    // Looked up when needed rather than stored on every element, which would slow the page's opening.
    const indexOf = (span) => Array.prototype.indexOf.call(spans, span);
    text.addEventListener('click', (event) => {
        const span = event.target.closest('span');
        const word = span ? indexOf(span) : -1;
        if (word >= 0) seek(start[word], word);
    });
    // The hover text (times and flags) is made for the word under the pointer only.
    text.addEventListener('mouseover', (event) => {
        const span = event.target.closest('span');
        const word = span && !span.title ? indexOf(span) : -1;
        if (word < 0) return;
        const flags = data.flags[word];
        span.title =
            (flags & 2 ? `${start[word].toFixed(3)} s` : `${start[word].toFixed(3)}\u2013${end[word].toFixed(3)} s`) +
            (flags & 1 ? ', restored filler' : '') +
            (flags & 2 ? ', no real duration' : '');
    });
    strip.parentElement.addEventListener('pointerdown', (event) => {
        const box = strip.getBoundingClientRect();
        seek(Math.max(0, Math.min(1, (event.clientX - box.left) / box.width)) * length, -1);
    });

    // Left and right go to the start of the timed word before or after the current time.
    function step(direction) {
        if (timed.length === 0) return;
        const t = now();
        const k = direction > 0 ? startedBy(t + 0.001) : startedBy(t - 0.001) - 1;
        const word = timed[Math.max(0, Math.min(timed.length - 1, k))];
        seek(start[word], word);
    }
    // Corrections. The words' elements stay one per word of the document, so that every index above holds:
    // a corrected word shows its new text, a deleted one is struck out, and inserted words are <ins> elements
    // after the word they follow. The corrections live in two maps, saved in the browser after each change.
    const conf = data.conf ? Float64Array.from(data.conf) : null;
    const threshold = document.getElementById('threshold');
    const saveButton = document.getElementById('save');
    const discardButton = document.getElementById('discard');
    const editsNote = document.getElementById('edits');
    const speakerNames = Array.from(document.querySelectorAll('.legend li[class^="s"] b'), (b) => b.textContent);
    let edits = new Map(); // word -> its corrected text; '' for a deleted word
    let inserts = new Map(); // word -> the words inserted after it, in order
    const originals = new Map(); // word -> the document's text, kept when a word is first corrected
    const shades = new Map(); // word -> its confidence shade's class, kept with its text
    const touched = new Set();
    const history = [];
    let editor = null;

    const originalText = (i) => (originals.has(i) ? originals.get(i) : spans[i].textContent);
    const snapshot = () => JSON.stringify([[...edits], [...inserts]]);

    // A key for this document in the browser's storage: a hash of its numbers and texts.
    const storageKey = (() => {
        let h = 0x811c9dc5;
        const mix = (s) => {
            for (let k = 0; k < s.length; k++) h = Math.imul(h ^ s.charCodeAt(k), 0x01000193);
        };
        mix(document.getElementById('data').textContent);
        mix(text.textContent);
        return `tavrik-review:${(h >>> 0).toString(16)}:${count}`;
    })();

    function show(i) {
        const span = spans[i];
        if (!originals.has(i)) {
            originals.set(i, span.textContent);
            shades.set(i, ['c1', 'c2', 'c3'].find((c) => span.classList.contains(c)));
        }
        const corrected = edits.get(i);
        span.textContent = corrected === undefined || corrected === '' ? originals.get(i) : corrected;
        span.classList.toggle('e', corrected !== undefined && corrected !== '');
        span.classList.toggle('del', corrected === '');
        // A corrected word is no longer in doubt.
        if (shades.get(i)) span.classList.toggle(shades.get(i), corrected === undefined);
        while (span.nextSibling && span.nextSibling.nodeName === 'INS') span.nextSibling.remove();
        let after = span;
        for (const word of inserts.get(i) || []) {
            const ins = document.createElement('ins');
            ins.textContent = word;
            after.after(ins);
            after = ins;
        }
    }

    function store() {
        const count = edits.size + [...inserts.values()].reduce((n, list) => n + list.length, 0);
        editsNote.textContent = count ? `${count} correction${count === 1 ? '' : 's'}` : '';
        discardButton.hidden = count === 0;
        try {
            if (count) localStorage.setItem(storageKey, snapshot());
            else localStorage.removeItem(storageKey);
        } catch (e) {
            // Storage may be refused (private windows, full quota): the corrections still stand in the page.
        }
    }

    function restore(state) {
        const [e, n] = JSON.parse(state);
        const before = new Set([...edits.keys(), ...inserts.keys()]);
        edits = new Map(e.filter(([i, t]) => i >= 0 && i < count && typeof t === 'string'));
        inserts = new Map(n.filter(([i, l]) => i >= 0 && i < count && Array.isArray(l)));
        for (const i of [...before, ...edits.keys(), ...inserts.keys()]) {
            touched.add(i);
            show(i);
        }
        store();
    }

    function change(apply) {
        history.push(snapshot());
        apply();
        restore(snapshot());
    }

    // Puts `tokens` in place of the words first..last: word by word, keeping each word's times; words left
    // over are deleted, tokens left over are inserted after the last word.
    function correct(first, last, tokens) {
        change(() => {
            for (let i = first; i <= last; i++) {
                const k = i - first;
                if (k < tokens.length && tokens[k] === originalText(i)) edits.delete(i);
                else edits.set(i, k < tokens.length ? tokens[k] : '');
            }
            const extra = tokens.slice(last - first + 1);
            if (extra.length) inserts.set(last, [...extra, ...(inserts.get(last) || [])]);
        });
    }

    function closeEditor() {
        if (!editor) return;
        const { input, hidden } = editor;
        editor = null;
        input.remove();
        for (const span of hidden) span.hidden = false;
    }

    // An input in place of the words first..last (or after word `first` for an insertion).
    function openEditor(first, last, inserting) {
        closeEditor();
        const input = document.createElement('input');
        input.className = 'editor';
        const hidden = [];
        if (inserting) {
            spans[first].after(' ', input);
        } else {
            const words = [];
            for (let i = first; i <= last; i++) {
                words.push(edits.has(i) && edits.get(i) !== '' ? edits.get(i) : originalText(i));
                if (i > first) hidden.push(spans[i]);
            }
            input.value = words.join(' ');
            spans[first].before(input);
            hidden.push(spans[first]);
            for (const span of hidden) span.hidden = true;
        }
        input.size = Math.max(4, input.value.length + 2);
        editor = { input, hidden };
        input.addEventListener('keydown', (event) => {
            event.stopPropagation();
            if (event.key === 'Escape') {
                closeEditor();
            } else if (event.key === 'Enter') {
                const tokens = input.value.split(/\s+/).filter((t) => t.length > 0);
                closeEditor();
                if (inserting) {
                    if (tokens.length) change(() => inserts.set(first, [...tokens, ...(inserts.get(first) || [])]));
                } else {
                    correct(first, last, tokens);
                }
            } else {
                return;
            }
            event.preventDefault();
        });
        input.addEventListener('input', () => {
            input.size = Math.max(4, input.value.length + 2);
        });
        input.addEventListener('blur', () => setTimeout(() => editor && editor.input === input && closeEditor()));
        input.focus();
        input.select();
    }

    // The words a selection in the text covers, as [first, last]; null when it covers fewer than two.
    function selectedRun() {
        const selection = window.getSelection();
        if (!selection || selection.isCollapsed || selection.rangeCount === 0) return null;
        const range = selection.getRangeAt(0);
        const covered = [];
        for (const span of text.querySelectorAll('span')) {
            if (range.intersectsNode(span)) covered.push(indexOf(span));
            else if (covered.length) break;
        }
        return covered.length > 1 ? [covered[0], covered[covered.length - 1]] : null;
    }

    const current = () => (chosen >= 0 ? chosen : lit);

    // The next (direction 1) or previous (-1) word below the reader's threshold, not yet corrected.
    function doubtful(direction) {
        if (!conf) return;
        const limit = Math.max(0, Math.min(1, parseFloat(threshold.value)));
        for (let i = current() + direction; i >= 0 && i < count; i += direction) {
            if (conf[i] >= 0 && conf[i] < limit && !edits.has(i)) {
                seek(start[i], i);
                if (lit !== i) {
                    if (lit >= 0) spans[lit].classList.remove('on');
                    lit = i;
                    spans[i].classList.add('on');
                }
                keepInView(spans[i]);
                return;
            }
        }
    }

    // The corrected document, in the tool's own shape: corrected and inserted words marked "edited" and
    // without a confidence; an inserted word takes the gap after the word it follows, or shares its times.
    function savedDocument() {
        const time = (t) => t.toFixed(3);
        const items = [];
        const item = (words, i, t0, t1, edited, flags) =>
            words.push(
                `{"text":${JSON.stringify(edited === null ? originalText(i) : edited)},"start":${time(t0)},` +
                    `"end":${time(t1)}` +
                    (flags & 1 ? ',"added":true' : '') +
                    (flags & 2 || t1 - t0 < 0.001 ? ',"untimed":true' : '') +
                    (data.who[i] >= 0
                        ? `,"${data.flags[i] & 4 ? 'speaker' : 'who'}":${JSON.stringify(speakerNames[data.who[i]] || '')}`
                        : '') +
                    (edited === null && conf && conf[i] >= 0 ? `,"conf":${conf[i].toFixed(2)}` : '') +
                    (edited === null ? '' : ',"edited":true') +
                    '}'
            );
        for (let i = 0; i < count; i++) {
            const corrected = edits.get(i);
            if (corrected !== '') item(items, i, start[i], end[i], corrected === undefined ? null : corrected, data.flags[i]);
            const added = inserts.get(i) || [];
            if (added.length === 0) continue;
            const gapEnd = i + 1 < count ? start[i + 1] : end[i];
            const gap = gapEnd - end[i] >= 0.05;
            added.forEach((word, k) => {
                const from = gap ? end[i] + ((gapEnd - end[i]) * k) / added.length : start[i];
                const to = gap ? end[i] + ((gapEnd - end[i]) * (k + 1)) / added.length : end[i];
                item(items, i, from, to, word, data.flags[i] & 4);
            });
        }
        return `{"words":[${items.join(',')}]}\n`;
    }

    saveButton.addEventListener('click', () => {
        const name = (document.querySelector('h1').textContent || 'words').replace(/\.json$/, '');
        const url = URL.createObjectURL(new Blob([savedDocument()], { type: 'application/json' }));
        const link = document.createElement('a');
        link.href = url;
        link.download = `${name.replace(/[\\/:*?"<>|]/g, '_')}.corrected.json`;
        document.body.append(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(url), 1000);
    });
    discardButton.addEventListener('click', () => {
        history.length = 0;
        restore('[[],[]]');
    });
    text.addEventListener('dblclick', (event) => {
        const span = event.target.closest('span');
        const word = span ? indexOf(span) : -1;
        if (word < 0) return;
        window.getSelection().removeAllRanges();
        openEditor(word, word, false);
    });

    window.addEventListener(
        'keydown',
        (event) => {
            if (event.target instanceof HTMLInputElement) return;
            if ((event.ctrlKey || event.metaKey) && !event.altKey && event.key === 'z' && history.length) {
                restore(history.pop());
                event.preventDefault();
                return;
            }
            if (event.altKey || event.ctrlKey || event.metaKey) return;
            if (event.key === ' ' && audio) {
                if (audio.paused) audio.play().catch(() => {});
                else audio.pause();
            } else if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') {
                step(event.key === 'ArrowRight' ? 1 : -1);
            } else if (event.key === 'n' || event.key === 'N') {
                doubtful(event.key === 'n' ? 1 : -1);
            } else if (event.key === 'Enter') {
                const run = selectedRun();
                if (run) openEditor(run[0], run[1], false);
                else if (current() >= 0) openEditor(current(), current(), false);
            } else if ((event.key === 'Delete' || event.key === 'Backspace') && current() >= 0) {
                const i = current();
                change(() => edits.set(i, ''));
            } else if (event.key === 'i' && current() >= 0) {
                openEditor(current(), current(), true);
            } else if (event.key === 'z' && history.length) {
                restore(history.pop());
            } else {
                return;
            }
            event.preventDefault();
            event.stopPropagation();
        },
        true
    );

    if (audio) {
        const follow = () => {
            update(true);
            if (!audio.paused) requestAnimationFrame(follow);
        };
        audio.addEventListener('play', () => requestAnimationFrame(follow));
        audio.addEventListener('seeked', () => update(true));
        audio.addEventListener('pause', () => update(false));
        audio.addEventListener('loadedmetadata', () => {
            if (Number.isFinite(audio.duration) && audio.duration > length) {
                length = audio.duration;
                draw();
            }
            update(false);
        });
    }
    let resizing = false;
    window.addEventListener('resize', () => {
        if (resizing) return;
        resizing = true;
        requestAnimationFrame(() => {
            resizing = false;
            draw();
            update(false);
        });
    });

    draw();
    update(false);
    // Corrections made on an earlier visit to this document come back.
    try {
        const kept = localStorage.getItem(storageKey);
        if (kept) restore(kept);
    } catch (e) {
        // A damaged or refused entry is no correction.
    }
    window.reviewPage = { ready: performance.now(), words: count, savedDocument };
})();
