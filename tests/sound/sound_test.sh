# What the real server sends to a chosen output while it plays through by itself: no gap and no jump in the tone
# at gapless boundaries, ReplayGain off leaving gain tags alone, and on changing with the track at each boundary.
exec python3 "$2/bench/sound_probe.py" "$1" 10
