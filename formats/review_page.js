// The review page's behaviour: the word under the playhead lit, words and the strip clickable, keys to play
// and step. Everything is found by binary search over start times and handled by one listener per kind of
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
    window.addEventListener(
        'keydown',
        (event) => {
            if (event.altKey || event.ctrlKey || event.metaKey) return;
            if (event.key === ' ' && audio) {
                if (audio.paused) audio.play().catch(() => {});
                else audio.pause();
            } else if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') {
                step(event.key === 'ArrowRight' ? 1 : -1);
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
    window.reviewPage = { ready: performance.now(), words: count };
})();
