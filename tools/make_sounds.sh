#!/bin/bash
# Regenerates every wave file under sounds/ (and sounds/numbers/, sounds/tour/) from this script and
# tools/soundgen/.
#
# How each group is made:
#  - Speech: festival speaks our own lines with the HTS voice cmu_us_slt_arctic_hts (chosen for the
#    clearest number words: forty/fourteen, fifty/fifteen, sixty/sixteen, ninety/nineteen stay apart);
#    sox resamples to 22050 Hz; soundgen trims the silence at both ends and brings each file to
#    SPEECH_RMS. Number words are cut from "WORD two" at the end festival reports for WORD, so
#    they have the short form they take inside a longer number, and keep 10 ms at each end so
#    they join without gaps. cal.wav puts "left", "centre" and "right" on the left, both and
#    the right channel. The words the game says together with a hit's shatter or a landing's
#    thud ("New high score!", "Perfect level! Extra life.", "Cleared!", "Game over.", "Your final
#    score is") start after LEAD_MS of silence, by which time those effects have died away.
#  - Effects: soundgen synthesises them sample by sample (noise, swept oscillators, filters, decays;
#    see tools/soundgen/effects.cpp), brings each to EFFECT_LUFS (the launch, the cue a player
#    answers, to LAUNCH_LUFS) and fades its first millisecond in and its last ten out.
#  - Music: soundgen writes each piece (composed as notes in tools/soundgen/music.cpp) as a MIDI file
#    holding its loop three times; fluidsynth plays it with the General MIDI soundfont of
#    fluid-soundfont-gm; soundgen keeps the middle pass, cross-fading its end into what preceded it,
#    so the file loops without a click, brings it to MUSIC_LUFS, and turns the loop to start (and
#    end) at a zero crossing just before its downbeat.
# Effects and music are levelled by ITU-R BS.1770 integrated loudness; speech by the RMS of its
# voiced 50 ms windows, because on single short words BS.1770's gating and K-weighting stray from
# what is heard (both measures are in tools/soundgen/loudness.h, also used by the test). Every
# spoken file and number word gets the same SPEECH_RMS; the generator stops if limiting keeps one
# from reaching it, and then SPEECH_RMS has to come down for all of them.
# The levels are set for what is heard in a game, where the game plays everything at full volume
# (the sound set's test and bench/sound_mix.cpp measure it on the simulator's render): speech
# stands about 20 dB over the level music, the launch over the music from its first 100 ms, and
# the peak ceilings leave room for sounds that coincide (a shot and its hit's shatter, with the
# music under them) to stay under full scale. Every file starts and ends within 64 of zero.
# Nothing is random: the same bytes come out on every run.
#
# Needs: festival festvox-us-slt-hts sox libsox-fmt-all fluidsynth fluid-soundfont-gm g++, which
# it installs when they are missing (scripts/setup.sh lists them).
# Usage: bash tools/make_sounds.sh            (regenerate everything)
#        bash tools/make_sounds.sh GROUP...   (only these of: speech numbers effects music)
#        bash tools/make_sounds.sh measure    (print loudness, voiced RMS and peak of every file)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/setup.sh
source "$ROOT/scripts/setup.sh"
qv_install "${QV_SOUND_PACKAGES[@]}"
OUT="$ROOT/sounds"
SOUNDFONT=/usr/share/sounds/sf2/FluidR3_GM.sf2
VOICE=cmu_us_slt_arctic_hts
# Levels (voiced RMS or integrated loudness) and peak ceilings of each group.
SPEECH_RMS=-19
SPEECH_PEAK=-3.5
EFFECT_LUFS=-23
EFFECT_PEAK=-7
LAUNCH_LUFS=-21  # the target's cue, which has to stand out of the music from its start
MUSIC_LUFS=-39
MUSIC_PEAK=-12
# Silence before speech that the game starts together with an effect (a hit's shatter or a
# landing's thud), so that the effect has died away when the words begin.
LEAD_MS=300

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
g++ -std=c++20 -O2 -I "$ROOT/src" -o "$WORK/soundgen" "$ROOT"/tools/soundgen/*.cpp \
    "$ROOT/src/platform/wave_file.cpp"
SG="$WORK/soundgen"

if [ "${1:-}" = measure ]; then
    "$SG" measure "$OUT"/*.wav "$OUT"/numbers/*.wav "$OUT"/tour/*.wav
    exit 0
fi

WANTED=" ${*:-speech numbers effects music} "
want() { [[ "$WANTED" == *" $1 "* ]]; }
mkdir -p "$OUT/numbers"
export LC_ALL=C

# The voice, and how to say the game's name: "kwor-vane".
cat > "$WORK/voice.scm" <<EOF
(voice_$VOICE)
(lex.add.entry (quote ("quorvane" nil (((k w ao r) 1) ((v ey n) 2)))))
EOF

# speak NAME.wav "TEXT" [LEAD_MS]: one speech file, with 30 ms of silence kept at each end and
# LEAD_MS more before it.
speak() {
    local out=$1 text=$2
    printf '%s\n' "$text" > "$WORK/line.txt"
    text2wave -eval "$WORK/voice.scm" -o "$WORK/raw.wav" "$WORK/line.txt" 2>/dev/null
    sox -R -D "$WORK/raw.wav" -e floating-point -b 32 "$WORK/rs.wav" vol 0.5 highpass 70 rate -v 22050
    "$SG" speech "$WORK/rs.wav" "$out" "$SPEECH_RMS" "$SPEECH_PEAK" 30 ${3:+"$3"}
}

if want speech; then
echo "speech..."
speak "$OUT/intro.wav" "Welcome to QuorVane, a shooting game you play by ear. \
Press any key to skip this introduction. \
Targets are launched to the left, to the centre, or to the right. \
You hear each launch coming from its side. \
Fire before the target lands: the left arrow for the left, the up arrow for the centre, and the right arrow for the right. \
On the hard difficulty, your gun holds a magazine. Press space to reload it. \
Press the S key to hear your score, the H key for the high score, and the L key for the lives you have left. \
Escape ends a game, and in the main menu, it quits. \
In the menu, the up and down arrows move through the items, and return chooses one."
speak "$OUT/menuprompt.wav" "Main menu. Use the up and down arrows to move through the items, and press return to choose."
speak "$OUT/startgame.wav" "Start game."
speak "$OUT/calSpeakers.wav" "Speaker check."
speak "$OUT/sendscore.wav" "Send high score."
speak "$OUT/exit.wav" "Exit."
speak "$OUT/difficulty.wav" "Choose a difficulty with the up and down arrows, then press return to start."
speak "$OUT/diff1.wav" "Easy."
speak "$OUT/diff2.wav" "Normal."
speak "$OUT/diff3.wav" "Hard, with a magazine to reload."
speak "$OUT/clear.wav" "Cleared!" "$LEAD_MS"
speak "$OUT/points.wav" "points."
speak "$OUT/highscore.wav" "New high score!" "$LEAD_MS"
speak "$OUT/highscoreis.wav" "The high score is"
speak "$OUT/el.wav" "Perfect level! Extra life." "$LEAD_MS"
speak "$OUT/win.wav" "Congratulations! You have cleared level six and won the game. \
The bonus round is now open: press the B key in the main menu to play it."
speak "$OUT/gameover.wav" "Game over." "$LEAD_MS"
speak "$OUT/final.wav" "Your final score is" "$LEAD_MS"
speak "$OUT/bonuswelcome.wav" "Welcome to the bonus round! Eleven targets will fall. \
Press the arrow for the side you hear: left, up for the centre, or right. \
Each hit makes the target jump. A wrong key costs a point."
speak "$OUT/go.wav" "Go!"
speak "$OUT/Sendwait.wav" "Sending your score. Please wait."
speak "$OUT/SendGood.wav" "Your score has been sent."
speak "$OUT/senderror.wav" "Sorry, the score could not be sent."
speak "$OUT/ending.wav" "Thanks for playing. Goodbye!"

# The sound tour (F1 in the main menu): the keys, then each game sound named before it plays.
mkdir -p "$OUT/tour"
speak "$OUT/tour/welcome.wav" "The sound tour. First the keys, then every sound of the game. \
Press any key to go on to the next part, or escape to go back to the main menu."
speak "$OUT/tour/menu_keys.wav" "In the main menu, the up and down arrows move through the items, \
and return chooses one. The H key speaks the high score. \
The B key starts the bonus round, once you have won a game. \
Space and C together clear the high score. F1 starts this tour, and escape quits the game."
speak "$OUT/tour/game_keys.wav" "In a game, fire with the left arrow to the left, the up arrow \
to the centre, and the right arrow to the right. On the hard difficulty, space reloads the gun. \
The S key speaks your score, H the high score, and L the lives you have left. \
Escape ends the game."
speak "$OUT/tour/music_keys.wav" "In the menus and in a game, page up and page down make the music \
louder or softer, and the M key turns it off and on. The game remembers your setting."
speak "$OUT/tour/controller.wav" "With a game controller, the direction pad fires to the left, \
the centre and the right, and moves through the menus. A is return, B is escape, X reloads, \
and Y speaks your score. The shoulder buttons make the music louder or softer, \
and the back button starts this tour."
speak "$OUT/tour/siren.wav" "A game starts with this siren."
speak "$OUT/tour/launch_left.wav" "A target launched on the left."
speak "$OUT/tour/launch_centre.wav" "A target launched in the centre."
speak "$OUT/tour/launch_right.wav" "A target launched on the right."
speak "$OUT/tour/gun.wav" "Your gun, firing."
speak "$OUT/tour/hit.wav" "A hit."
speak "$OUT/tour/landing.wav" "A landing. The target got through, and you lose a life."
speak "$OUT/tour/locked.wav" "The gun is locked. After a miss on the normal and hard \
difficulties, it stays locked until the next target."
speak "$OUT/tour/magazine_empty.wav" "The magazine is empty. Press space to reload."
speak "$OUT/tour/no_shot.wav" "Fire with the magazine empty: no shot is fired."
speak "$OUT/tour/reloaded.wav" "Reloaded."
speak "$OUT/tour/bonus_round.wav" "The bonus round. Eleven targets fall, one after another. \
Each hit scores a point and makes the target jump. A wrong key costs a point."
speak "$OUT/tour/bonus_left.wav" "A target falling on the left."
speak "$OUT/tour/bonus_centre.wav" "A target falling in the centre."
speak "$OUT/tour/bonus_right.wav" "A target falling on the right."
speak "$OUT/tour/bonus_hit.wav" "A hit in the bonus round: the target jumps."
speak "$OUT/tour/bonus_miss.wav" "A wrong key in the bonus round."
speak "$OUT/tour/bonus_landing.wav" "A bonus target landing."
speak "$OUT/tour/end.wav" "That is every sound. Back to the main menu."

speak "$WORK/left.wav" "Left."
speak "$WORK/centre.wav" "Centre."
speak "$WORK/right.wav" "Right."
"$SG" cal "$WORK/left.wav" "$WORK/centre.wav" "$WORK/right.wav" "$OUT/cal.wav" "$SPEECH_RMS" \
    "$SPEECH_PEAK"
fi

if want numbers; then
echo "numbers..."
# Each number word is spoken followed by "two" ("two" itself by "hundred") and cut where the word
# ends, so it carries the short, running form it has inside a longer number. Said alone, a word
# gets a drawn-out ending, and a drawn-out "forty" is too much like "fourteen".
words=(zero one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen
       sixteen seventeen eighteen nineteen twenty thirty forty fifty sixty seventy eighty ninety
       hundred thousand)
{
    echo "(load \"$WORK/voice.scm\")"
    echo '(define (first-word text out)
  (let ((u (SynthText text)))
    (utt.save.wave u out (quote riff))
    (format t "%s %0.4f\n" out (item.feat (item.daughtern (item.daughtern
      (item.relation (utt.relation.first u (quote Word)) (quote SylStructure)))) "end"))))'
    for w in "${words[@]}"; do
        case $w in
            zero|*ty|hundred|thousand) next=two ;;
            *) next=hundred ;;
        esac
        echo "(first-word \"$w $next\" \"$WORK/word_$w.wav\")"
    done
} > "$WORK/words.scm"
festival -b "$WORK/words.scm" | grep "^$WORK/word_" > "$WORK/word_ends.txt"
i=0
while read -r wav end; do
    case $i in
        2[0-7]) name=sn$(( (i - 18) * 10 )) ;;
        28) name=hundred ;;
        29) name=thousand ;;
        *) name=sn$i ;;
    esac
    sox -R -D "$wav" -e floating-point -b 32 "$WORK/rs.wav" vol 0.5 trim 0 "=$end" fade 0 0 0.015 highpass 70 rate -v 22050
    "$SG" speech "$WORK/rs.wav" "$OUT/numbers/$name.wav" "$SPEECH_RMS" "$SPEECH_PEAK" 10
    i=$((i + 1))
done < "$WORK/word_ends.txt"
[ "$i" = 30 ] || { echo "festival gave $i of 30 number words" >&2; exit 1; }
fi

if want effects; then
echo "effects..."
for fx in gun glass land recharge warning empty locked siren bonusFall bonushit BonusLand bonusmiss; do
    "$SG" fx "$fx" "$OUT/$fx.wav" "$EFFECT_LUFS" "$EFFECT_PEAK"
done
"$SG" fx launch "$OUT/launch.wav" "$LAUNCH_LUFS" "$EFFECT_PEAK"
fi

if want music; then
echo "music..."
for piece in menumusic level1 level2 BonusMusic; do
    "$SG" midi "$piece" "$WORK/$piece.mid"
    fluidsynth -q -n -i -C no -R yes -g 0.5 -r 22050 -O float -T wav -F "$WORK/$piece.render.wav" \
        "$SOUNDFONT" "$WORK/$piece.mid" >/dev/null
    "$SG" loop "$piece" "$WORK/$piece.render.wav" "$OUT/$piece.wav" "$MUSIC_LUFS" "$MUSIC_PEAK"
done
fi

echo "done: $(find "$OUT" -name '*.wav' | wc -l) files, $(du -sh "$OUT" | cut -f1)"
