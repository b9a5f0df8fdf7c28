// Files a program removes when the user interrupts it (Ctrl-C, SIGTERM,
// SIGHUP, a closed pipe; the console's events on Windows): every temporary
// file of an AtomicOutput, and the scratch files named by InterruptRemoval.
//
// Nothing here acts until a program that owns its process asks for it with
// RemoveTemporaryFilesOnInterrupt; the plug-in never does, so a host's own
// signal handling stays the host's.
//
// An interrupt ends the process at once, unless a stretch marked by an
// InterruptDeferral is running on some thread: files may be made there that
// no list here holds (a plug-in's driver keeps its own), and the process
// then ends as the last such stretch ends, after removing every file listed.
// A second interrupt meanwhile ends it at once. No thread is started for
// any of this.
#pragma once

#include <string>

// Installs the handler that removes the files listed below and ends the
// process as the interrupt would have.
void RemoveTemporaryFilesOnInterrupt();

// Lists a file of the program's own for removal on interrupt for as long as
// this lives: a scratch file that must not outlive the program. Made
// before the file is, so that no moment goes by where the file exists
// unlisted; remove the file before this ends.
class InterruptRemoval {
public:
    explicit InterruptRemoval(const std::string& name);
    ~InterruptRemoval();
    InterruptRemoval(const InterruptRemoval&) = delete;
    InterruptRemoval& operator=(const InterruptRemoval&) = delete;

private:
    int slot; // -1 when the name could not be listed
};

// While one lives, an interrupt waits for it to end (see above). Where an
// interrupt has already come, making one does not return: the process ends
// as the stretches running end.
class InterruptDeferral {
public:
    InterruptDeferral();
    ~InterruptDeferral();
    InterruptDeferral(const InterruptDeferral&) = delete;
    InterruptDeferral& operator=(const InterruptDeferral&) = delete;
};
