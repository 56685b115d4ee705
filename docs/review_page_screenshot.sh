#!/usr/bin/env bash
# Makes the review page's picture in the README from a real run: a two-voice conversation said by festival
# (slt, a woman; kal, a man), transcribed by tavrik-asr with --speakers auto --confidence, written as a page by
# tavrik-words, and photographed in Debian's headless chromium through the pinned playwright-core (no browser
# is downloaded), with misheard words corrected as a reader would.
#
#   docs/review_page_screenshot.sh [BUILD_DIR [OUT_PNG]]     (default: build, docs/review-page.png)
#
# Needs festival with festvox-us-slt-hts and festvox-kallpc16k, sox, chromium and node_modules (npm ci).
# MODEL_DIR names the model folder (default Debian's); KEEP=1 keeps the recording, document and page.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$(realpath -m "${2:-$root/docs/review-page.png}")
model=${MODEL_DIR:-/usr/share/pocketsphinx/model/en-us}
work=$(mktemp -d)
if [[ -z ${KEEP:-} ]]; then
    trap 'rm -rf "$work"' EXIT
else
    echo "keeping $work" >&2
fi

# Who says what, in turn: a voice of festival's and one line without double quotes.
conversation=(
    "cmu_us_slt_arctic_hts|Good morning. I have come about the bicycle I left here on Tuesday."
    "kal_diphone|Ah yes, the blue one with the bent wheel. We had to order a new rim for it."
    "cmu_us_slt_arctic_hts|Will it be ready before the weekend? I need it to get to work on Monday."
    "kal_diphone|The parts should arrive on Thursday, so you can collect it on Friday afternoon."
    "cmu_us_slt_arctic_hts|That is perfect. How much will the repair cost?"
    "kal_diphone|About forty pounds, with the new brake pads and a fresh chain."
)
turns=()
for k in "${!conversation[@]}"; do
    voice=${conversation[$k]%%|*}
    line=${conversation[$k]#*|}
    printf '%s\n' "$line" | text2wave -eval "(voice_$voice)" -o "$work/raw$k.wav"
    # Each turn at 16 kHz mono 16-bit, followed by a short pause.
    sox "$work/raw$k.wav" -r 16000 -c 1 -b 16 "$work/turn$k.wav" pad 0 0.4
    turns+=("$work/turn$k.wav")
done
sox "${turns[@]}" "$work/talk.wav"

"$build/cli/tavrik-asr" --asr "$model" --aligner "$model" --audio "$work/talk.wav" --speakers auto --confidence \
    >"$work/talk.json" 2>"$work/talk.log"
(cd "$work" && "$build/formats/tavrik-words" --format html --audio talk.wav talk.json >talk.html)

# The reader's corrections of misheard words (HEARD=MEANT, separated by ";"), each made where the word is heard.
corrections=${CORRECTIONS:-"blonde=blue one;band=bent"}
cd "$root"
# shellcheck disable=SC2016 # the script is JavaScript, its ${...} are its own
PAGE="$work/talk.html" SHOT="$out" CORRECTIONS="$corrections" node -e '
const { chromium } = require("playwright-core");
(async () => {
    const browser = await chromium.launch({
        executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
        args: ["--no-sandbox", "--mute-audio"],
    });
    const page = await browser.newPage({ viewport: { width: 1040, height: 800 } });
    await page.goto(`file://${process.env.PAGE}`);
    await page.waitForFunction(() => window.reviewPage !== undefined);
    for (const correction of process.env.CORRECTIONS.split(";").filter(Boolean)) {
        const [heard, meant] = correction.split("=");
        const at = (await page.$$eval("#text span", (spans) => spans.map((s) => s.textContent))).indexOf(heard);
        if (at < 0) {
            console.error(`"${heard}" is not among the words heard: not corrected`);
            continue;
        }
        await page.locator("#text span").nth(at).dblclick();
        await page.fill("input.editor", meant);
        await page.keyboard.press("Enter");
    }
    await page.mouse.move(0, 0);
    const bottom = await page.evaluate(() => document.querySelector("main section:last-of-type").getBoundingClientRect().bottom);
    await page.screenshot({ path: process.env.SHOT, clip: { x: 0, y: 0, width: 1040, height: Math.min(800, Math.ceil(bottom) + 28) } });
    await browser.close();
})().catch((e) => { console.error(e); process.exit(1); });
'
echo "wrote $out ($(stat -c %s "$out") bytes)" >&2
