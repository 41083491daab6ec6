#pragma once

class InstallerLog;

// A run that runs out of memory, or whose code lets an exception escape,
// ends at once with exit code -1: never with the runtime's own way out, which
// may show a box that would block an unattended installation. Before it ends
// it writes one record saying why to the log that LastRecordGoesTo names, from
// memory set aside when the handlers were installed.
void EndTheRunQuietlyOnFatalErrors();

// Names the run's open log for that record while it lives.
class LastRecordGoesTo {
public:
    explicit LastRecordGoesTo(InstallerLog& log);
    ~LastRecordGoesTo();
    LastRecordGoesTo(const LastRecordGoesTo&) = delete;
    LastRecordGoesTo& operator=(const LastRecordGoesTo&) = delete;
};
