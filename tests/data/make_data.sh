#!/usr/bin/env bash
# Makes the sound test files in tests/data/sound with real encoders, and beside each
# one its reference decode made by the same tools (NAME.pcm: raw interleaved PCM,
# 8-bit unsigned or 16-bit signed little-endian, exactly what the file holds).
#
# Needs sox and vorbis-tools (oggenc, oggdec). Only this script needs them; the tests
# read the committed files. Re-running it rewrites every file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$here/sound"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.wav "$out"/*.ogg "$out"/*.pcm

for tool in sox oggenc oggdec; do
  command -v "$tool" >/dev/null || { echo "make_data: $tool is missing (apt-get install sox vorbis-tools)" >&2; exit 1; }
done

# A test signal that is not trivial to get right: a sweep plus a steady tone, the
# channels differing so that swapped or misaligned channels show.
#   signal OUT RATE CHANNELS BITS SAMPLES
signal() {
  local file=$1 rate=$2 channels=$3 bits=$4 samples=$5 enc=signed-integer
  [ "$bits" = 8 ] && enc=unsigned-integer
  if [ "$channels" = 1 ]; then
    sox -R -D -r "$rate" -c 1 -n -b "$bits" -e "$enc" "$file" \
        synth "${samples}s" sine 200-4000 sine 440 remix - vol 0.45
  else
    sox -R -D -r "$rate" -c 2 -n -b "$bits" -e "$enc" "$file" \
        synth "${samples}s" sine 200-4000 sine 660-330 vol 0.6
  fi
}

le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }
chunk() {  # chunk ID FILE: header, body, pad byte when the size is odd
  local size
  size=$(stat -c %s "$2")
  printf '%s' "$1"; le32 "$size"; cat "$2"
  if [ $((size & 1)) = 1 ]; then printf '\x00'; fi
}
riff() {  # riff OUT CHUNKFILE...: RIFF/WAVE around already-built chunks
  local target=$1; shift
  cat "$@" > "$work/body"
  { printf RIFF; le32 $(($(stat -c %s "$work/body") + 4)); printf WAVE; cat "$work/body"; } > "$target"
}

# ---- RIFF WAVE PCM straight from sox (16-byte fmt chunk, data right after it) ----
plain() {  # plain NAME RATE CHANNELS BITS SAMPLES
  signal "$out/$1.wav" "$2" "$3" "$4" "$5"
  sox "$out/$1.wav" -t raw "$out/$1.pcm"
}
plain pcm_m8_22050    22050 1 8  4411   # odd data size: a pad byte follows the data
plain pcm_s16_44100   44100 2 16 11025
plain pcm_m16_48000   48000 1 16 9600
plain pcm_s8_48000    48000 2 8  7201
plain pcm_m16_11025   11025 1 16 3001

# ---- Layouts sox does not write, assembled from sox's own fmt body and data ----
# fmt body of 18 bytes (cbSize 0), an odd-sized LIST chunk and an odd "note" chunk
# between fmt and data, and a chunk after the data.
signal "$work/a.wav" 22050 2 16 5513
sox "$work/a.wav" -t raw "$out/pcm_s16_22050_chunks.pcm"
dd if="$work/a.wav" of="$work/fmt16" bs=1 skip=20 count=16 status=none
{ cat "$work/fmt16"; le16 0; } > "$work/fmt18"
printf 'INFOISFT\x05\x00\x00\x00sox!\x00' > "$work/list"   # 17 bytes: odd
printf 'abc' > "$work/note"
printf 'trailing chunk after the data' > "$work/tail"
chunk "fmt " "$work/fmt18" > "$work/c1"
chunk LIST "$work/list" > "$work/c2"
chunk note "$work/note" > "$work/c3"
chunk data "$out/pcm_s16_22050_chunks.pcm" > "$work/c4"
chunk junk "$work/tail" > "$work/c5"
riff "$out/pcm_s16_22050_chunks.wav" "$work"/c1 "$work"/c2 "$work"/c3 "$work"/c4 "$work"/c5

# 16-byte fmt whose wBitsPerSample is stored as 0: the reader takes the bits from
# nBlockAlign / nChannels; odd-sized extra chunk before the data.
signal "$work/b.wav" 44100 1 16 2205
sox "$work/b.wav" -t raw "$out/pcm_m16_44100_bits0.pcm"
dd if="$work/b.wav" of="$work/fmtb" bs=1 skip=20 count=14 status=none
le16 0 >> "$work/fmtb"
printf 'x' > "$work/odd"
chunk "fmt " "$work/fmtb" > "$work/d1"
chunk "odd " "$work/odd" > "$work/d2"
chunk data "$out/pcm_m16_44100_bits0.pcm" > "$work/d3"
riff "$out/pcm_m16_44100_bits0.wav" "$work"/d1 "$work"/d2 "$work"/d3

# ---- Ogg Vorbis by oggenc; the reference is oggdec's 16-bit little-endian decode ----
vorbis() {  # vorbis NAME RATE CHANNELS BITS SAMPLES QUALITY SERIAL
  signal "$work/$1.wav" "$2" "$3" "$4" "$5"
  oggenc -Q -q "$6" --serial "$7" -o "$out/$1.ogg" "$work/$1.wav"
  oggdec -Q -R -b 16 -e 0 -s 1 -o "$out/$1.pcm" "$out/$1.ogg"
}
vorbis ogg_m16_22050 22050 1 16 4410  0 101
vorbis ogg_s16_44100 44100 2 16 11025 2 102
vorbis ogg_s16_48000 48000 2 16 9600  1 103
vorbis ogg_m8_48000  48000 1 8  7200  0 104
# Two chained streams of the same format: one file, two logical bitstreams. Its
# reference is the two links decoded one after the other (oggdec given the chained
# file itself starts in the last link, as vorbisfile does right after opening it).
vorbis "chain_a" 44100 2 16 4410 1 105
vorbis "chain_b" 44100 2 16 3000 1 106
cat "$out/chain_a.ogg" "$out/chain_b.ogg" > "$out/ogg_s16_44100_chained.ogg"
cat "$out/chain_a.pcm" "$out/chain_b.pcm" > "$out/ogg_s16_44100_chained.pcm"
rm -f "$out"/chain_[ab].*

# ==== Compressed files for the compression manager (sound/acm) ======================
# MP3 by lame and MPEG layer II by twolame, each decoded by mpg123 with gapless
# trimming off and the info frame decoded like any other frame (--no-gapless
# --no-infoframe), so the reference holds every frame's samples; IMA ADPCM, Microsoft
# ADPCM, A-law and mu-law WAVE by sox, decoded by sox. Needs lame, twolame, mpg123.
# Sample counts fill whole ADPCM blocks, so sox's decode has no padding to trim.
acm="$out/acm"
mkdir -p "$acm"
rm -f "$acm"/*.mp3 "$acm"/*.mp2 "$acm"/*.wav "$acm"/*.pcm
for tool in lame twolame mpg123; do
  command -v "$tool" >/dev/null || { echo "make_data: $tool is missing (apt-get install lame twolame mpg123)" >&2; exit 1; }
done
mpeg_reference() {  # mpeg_reference IN OUT
  mpg123 -q --no-gapless --no-infoframe -e s16 -s "$1" > "$2"
}
mp3() {  # mp3 NAME RATE CHANNELS SAMPLES LAME-OPTIONS...
  local name=$1 rate=$2 channels=$3 samples=$4
  shift 4
  signal "$work/$name.wav" "$rate" "$channels" 16 "$samples"
  lame --quiet "$@" "$work/$name.wav" "$acm/$name.mp3"
  mpeg_reference "$acm/$name.mp3" "$acm/$name.pcm"
}
mp3 mp3_s16_44100_128k_id3v2 44100 2 11025 -b 128 --cbr --id3v2-only --tt "Sweep" --ta "gamelib tests"
mp3 mp3_m16_22050_32k_id3v1  22050 1 4410  -b 32 --cbr -m m --id3v1-only --tt "Mono sweep"
mp3 mp3_s16_22050_vbr_tags   22050 2 6615  -V 4 --add-id3v2 --tt "Both tags" --tc "v1 and v2"
mp3 mp3_m16_44100_64k_crc    44100 1 8820  -b 64 --cbr -m m -p -t
mp3 mp3_s16_48000_320k       48000 2 4800  -b 320 --cbr
# Layer II, protected by CRC.
signal "$work/mp2.wav" 32000 2 16 6400
twolame --quiet -b 192 -p "$work/mp2.wav" "$acm/mp2_s16_32000_192k.mp2"
mpeg_reference "$acm/mp2_s16_32000_192k.mp2" "$acm/mp2_s16_32000_192k.pcm"
# MP3 frames in a RIFF WAVE (format 0x55, 30-byte fmt body): the WAVE trial's road.
lame --quiet -b 40 --cbr -m m -t "$work/mp3_m16_22050_32k_id3v1.wav" "$work/riff.mp3"
mpeg_reference "$work/riff.mp3" "$acm/mp3wav_m16_22050.pcm"
{ le16 85; le16 1; le32 22050; le32 5000; le16 1; le16 0; le16 12
  le16 1; le32 2; le16 $(( 72000 * 40 / 22050 )); le16 1; le16 1393; } > "$work/fmt55"
chunk "fmt " "$work/fmt55" > "$work/e1"
chunk data "$work/riff.mp3" > "$work/e2"
riff "$acm/mp3wav_m16_22050.wav" "$work"/e1 "$work"/e2

compressed() {  # compressed NAME RATE CHANNELS SAMPLES SOX-ENCODING
  signal "$work/$1.wav" "$2" "$3" 16 "$4"
  sox "$work/$1.wav" -e "$5" "$acm/$1.wav"
  sox "$acm/$1.wav" -t raw -e signed-integer -b 16 "$acm/$1.pcm"
}
compressed ima_m16_22050   22050 1 5050 ima-adpcm   # 10 blocks of 505 samples
compressed ima_s16_44100   44100 2 6123 ima-adpcm   # 3 blocks of 2041
compressed msadpcm_m16_22050 22050 1 5060 ms-adpcm  # 5 blocks of 1012
compressed msadpcm_s16_44100 44100 2 4072 ms-adpcm  # 2 blocks of 2036
compressed alaw_m16_8000   8000  1 2000 a-law
compressed ulaw_s16_22050  22050 2 2205 u-law

ls -l "$out" "$acm"
du -sh "$out"
