# Talking to the agent started as the coprocess AGENT; sourced, not run.
# `expect` keeps the event it waited for in `last`.
send() { echo "$1" >&"${AGENT[1]}"; }
expect() {
    local line
    while IFS= read -r -t 60 line <&"${AGENT[0]}"; do
        [[ "$line" == *"\"event\":\"$1\""* ]] && { last="$line"; return 0; }
        [[ "$line" == *'"event":"error"'* ]] && echo "unexpected: $line" >&2
    done
    echo "no \"$1\" event in time" >&2
    exit 1
}
