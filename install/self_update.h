// The updater replacing itself with the zel_updater.exe a release carries at
// the top of its archive (signed with it, through the archive's SHA-256).
// The new program takes over at the next start; it may carry new pins and a
// new release key, which is how keys are rotated.
//
// A replacement is on trial until the new updater has completed a whole
// start (the lock, the check, and the application started or the window
// shown). Until then the previous updater is kept as
// zel_updater.previous.exe, and every run of the new one holds a marker
// (zel_updater.trial-<process>-<ticks>) open from its first step to the end
// of its start. A marker that nobody holds any longer is a run that died on
// the way (a crash, a kill, a cut): the next start of any copy puts the
// previous updater back and hands the start to it. So does a start that ends
// with a failure, or that does not complete within a bound.
#pragma once

// After an installation: when ZEL\zel_updater.exe has a higher file version
// than the running program, passes its self-check and has this build's
// identity (or a signed key hand-over of it), the running program is kept as
// zel_updater.previous.exe and the new one takes its place; on any failure
// the old one is put back. Logged as self_update.
void UpdateSelfFromInstallation();

// The first step of every start: heals a replacement cut between its two
// renames; puts the previous updater back when a trial run died; marks this
// run's trial while the new updater is on trial. Ends the process, after
// starting zel_updater.exe, when that one should make this start instead.
void BeginStartOfRun(const char* version);

enum class StartOutcome {
    kCompleted,  // the check was made and the application started or the window shown
    kUndecided,  // ended for a cause outside the updater (busy lock, no server)
    kFailed,     // ended with a failure of its own
};
// The end of this run's start: a completed start ends the trial and removes
// the previous updater; a failed one puts it back. Only the first call counts.
void EndStartOfRun(StartOutcome outcome);

// At start, under the lock: removes what an earlier replacement or a put-back
// left half-made or set aside.
void TidySelfUpdateLeftovers();
