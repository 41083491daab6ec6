# shellcheck shell=sh
# Sourced by scripts that run long steps, some side by side: every step runs
# in a session (and so a process group) of its own, so that an interrupt ends
# each step whole, whatever it started, rather than only the shell that
# waits for it. A step started with & from a script would otherwise ignore
# SIGINT, and one killed by its id alone would leave its children to run on.
#
#   stop_on_interrupt PREFIX...   on SIGINT, SIGTERM or SIGHUP: end every step
#                                 still running, shut down the wineservers of
#                                 these Wine prefixes, say so, exit 130
#   start_step COMMAND...         starts it in the background; its id in $step
#   finish_step ID                waits for it; returns its exit code
#   run_step COMMAND...           both: runs it and returns its exit code
#
# COMMAND is a program, not a shell function.

running_steps=""
stopped_prefixes=""

start_step() {
    # setsid makes the background child the leader of a new session without
    # forking again, as it is not a process group leader: its id is the group's.
    setsid "$@" &
    step=$!
    running_steps="$running_steps $step"
}

finish_step() { # ID
    wait "$1" && step_outcome=0 || step_outcome=$?
    remaining=""
    for id in $running_steps; do
        [ "$id" = "$1" ] || remaining="$remaining $id"
    done
    running_steps=$remaining
    return "$step_outcome"
}

run_step() {
    start_step "$@"
    finish_step "$step"
}

# Whether a process of group ID still runs. A step's leader that was ended
# stays a zombie in its group until this shell reaps it, so kill -0 can't tell.
group_runs() { # ID
    ps -eo pgid=,stat= | awk -v group="$1" '$1 == group && $2 !~ /^Z/ { found = 1 } END { exit !found }'
}

# Ends every step still running, as groups: asked first, then killed.
end_running_steps() {
    for id in $running_steps; do
        kill -TERM "-$id" 2>/dev/null || true
    done
    waited=0
    while [ "$waited" -lt 5 ]; do
        alive=""
        for id in $running_steps; do
            ! group_runs "$id" || alive="$alive $id"
        done
        [ -n "$alive" ] || break
        sleep 1
        waited=$((waited + 1))
    done
    for id in $running_steps; do
        kill -KILL "-$id" 2>/dev/null || true
    done
    for prefix in $stopped_prefixes; do
        [ ! -d "$prefix" ] || WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    done
}

on_interrupt() {
    trap '' INT TERM HUP
    echo "interrupted: ending what this run started" >&2
    end_running_steps
    exit 130
}

stop_on_interrupt() { # PREFIX...
    stopped_prefixes="$*"
    trap on_interrupt INT TERM HUP
}
