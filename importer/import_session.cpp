#include "importer/import_session.h"

#include <map>
#include <utility>

#include "importer/file_placement.h"
#include "importer/media_file.h"
#include "importer/text_format.h"

namespace importer {

using flutter::EncodableValue;
using flutter::ValueList;

ImportSession::ImportSession(Options options, Environment environment,
                             engine_inprocess::InterfaceHost& host)
    : options_(std::move(options)),
      environment_(std::move(environment)),
      client_(host),
      report_(environment_.write_line, environment_.show_status),
      // A folder the import makes goes again at the end if nothing landed
      // in it.
      destination_(FullPath(options_.folder)),
      plan_(report_),
      placement_(environment_.after),
      connection_(options_, state_, client_, report_, environment_.after,
                  Connection::Events{
                      [this](const EncodableValue&) {
                        report_.Line((options_.dry_run ? "Folder (dry run): "
                                                       : "Folder: ") +
                                     destination_.path());
                        roll_.Enumerate();
                      },
                      [this] { roll_.Enumerate(); },
                      [this] {
                        // Before the copy phase the step running notices
                        // it; in it, the copies running end first.
                        if (state_.copying && copies_.idle()) {
                          connection_.AwaitReturn();
                        }
                      },
                      [this] { roll_.Reset(); },
                      [this](bool listed) { Probed(listed); },
                      [this](const std::string& problem) { Stop(problem); },
                      [this] { return plan_.Settled(); }}),
      roll_(options_, state_, client_, connection_, report_,
            destination_.path(),
            CameraRoll::Events{
                [this](const ValueList& entries) { Plan(entries); },
                [this] { Finish(); },
                [this](const std::string& problem) { Stop(problem); }}),
      copies_(
          options_.copies_in_flight, state_,
          CopyQueue::Parts{client_, connection_, plan_, placement_,
                           destination_, report_},
          [this] {
            return !state_.interrupted && !connection_.away() &&
                   !connection_.probing() && !roll_.reset_pending();
          },
          [this] { CopiesIdle(); }),
      thumbnails_(
          options_.thumbnails.empty() ? "" : FullPath(options_.thumbnails),
          state_,
          Thumbnails::Parts{client_, connection_, placement_, destination_,
                            report_},
          [this] { FinishWhenDone(); }) {}

void ImportSession::Start() {
  if (!options_.dry_run && !LockDestination()) return;
  // Listen first, so that no progress event of the first copy is missed.
  client_.Call(kEventChannel, "listen", nullptr, [this](const Reply& reply) {
    if (!reply.ok()) {
      Stop("Listening for copy progress failed: " + reply.Describe() + ".");
      return;
    }
    // The entries found while the roll is read only feed the count shown;
    // without them the import goes on all the same. So do device events:
    // without them it polls. They are listened to before any device is
    // opened, so that every session the import opens tells its events.
    client_.Call(kMediaChannel, "listen", nullptr, [this](const Reply&) {
      client_.Call(kDevicesChannel, "listen", nullptr,
                   [this](const Reply&) { connection_.ListDevices(); });
    });
  });
}

void ImportSession::OnProgramMessage(const std::string& channel,
                                     const std::vector<uint8_t>& bytes) {
  if (channel == kMediaChannel) {
    Reply batch = DecodeReply(bytes);
    if (batch.ok()) roll_.OnBatch(batch.value);
    return;
  }
  if (channel == kDevicesChannel) {
    Reply event = DecodeReply(bytes);
    if (event.ok()) {
      connection_.OnDeviceEvent(StringField(event.value, "event"),
                                StringField(event.value, "id"));
    }
    return;
  }
  if (channel != kEventChannel || copies_.running() == 0) return;
  Reply event = DecodeReply(bytes);
  if (!event.ok()) return;
  copies_.OnProgress(StringField(event.value, "objectId"),
                     IntField(event.value, "bytes"));
}

void ImportSession::Interrupt() {
  if (state_.over || state_.interrupted) return;
  state_.interrupted = true;
  report_.Line("Stopping (Ctrl+C)...");
  if (copies_.running() > 0) {
    // The copies answer "cancelled" and remove their staging files; the
    // summary follows their replies.
    client_.Call(kMethodChannel, "cancel", nullptr, [](const Reply&) {});
    return;
  }
  // A file being placed is placed (or its staging file removed) first; the
  // summary follows (CopyQueue::Pump).
  if (copies_.settling()) return;
  if (copies_.files() == 0 && plan_.ledger().listed() == 0) {
    Stop("Stopped before any file was imported.");
    return;
  }
  Finish();
}

bool ImportSession::LockDestination() {
  uint32_t code = 0;
  std::vector<std::string> removed;
  switch (destination_.Lock(&code, &removed)) {
    case FolderLockOutcome::kTaken:
      for (const std::string& path : removed) {
        report_.Line(
            "Removed a staging file left by an import that was stopped: " +
            path);
      }
      return true;
    case FolderLockOutcome::kHeldByAnotherImport:
      Stop("Another import into " + destination_.path() + " is running.");
      return false;
    case FolderLockOutcome::kFailed:
      break;
  }
  Stop("Cannot use the folder " + destination_.path() + " (error " +
       std::to_string(code) + ").");
  return false;
}

void ImportSession::Plan(const ValueList& entries) {
  // After a replug: the files this import still owes, found again in the
  // new listing by folder and name; the files that have an outcome are not
  // looked at again.
  const bool resuming = state_.copying;
  // What this listing could not read fails now: a later listing (the check
  // at the end) tells its own.
  if (!options_.dry_run) roll_.RecordUnread(plan_.ledger());
  std::map<std::string, MediaFile> owed;
  if (resuming) {
    owed = copies_.TakeOwed();
    thumbnails_.Forget();
  }
  // A folder that holds a large roll takes a moment to check.
  report_.Status("Checking what is already in " + destination_.path() +
                 "...");
  std::vector<MediaFile> files;
  for (const EncodableValue& entry : entries) {
    files.push_back(FileOf(entry, destination_.path()));
  }
  if (!options_.dry_run) {
    for (const MediaFile& file : files) thumbnails_.Queue(file);
  }
  ImportPlan::Planned planned =
      plan_.Plan(files, std::move(owed), options_.dry_run);
  report_.Planned(planned.new_bytes);
  copies_.Load(std::move(planned.to_copy));
  if (resuming) {
    // Gone from the phone meanwhile: said, never passed over in silence.
    for (const MediaFile& gone : planned.gone) {
      plan_.Fail(gone, "no longer on the device after it came back");
    }
    report_.Line("Carrying on: " + std::to_string(copies_.files()) +
                 " files to import (" + FormatBytes(planned.copy_bytes) +
                 ").");
    thumbnails_.Pump();
    copies_.Pump();
    return;
  }
  const Ledger& ledger = plan_.ledger();
  report_.Line("On the device: " + std::to_string(ledger.listed()) +
               " files, " + FormatBytes(planned.listed_bytes) +
               "; already imported: " +
               std::to_string(ledger.Count(Outcome::kAlreadyThere)) +
               "; to import: " + std::to_string(copies_.files()) + " (" +
               FormatBytes(report_.planned_bytes()) + ")");
  if (options_.dry_run) {
    Finish();
    return;
  }
  if (copies_.files() > 0 &&
      !destination_.Make(destination_.path(), nullptr)) {
    Stop("Cannot create the folder " + destination_.path() + ".");
    return;
  }
  state_.copying = true;
  thumbnails_.Pump();
  copies_.Pump();
}

void ImportSession::CopiesIdle() {
  if (connection_.away() && !state_.interrupted) {
    connection_.AwaitReturn();
  } else if (roll_.reset_pending() && !state_.interrupted && copies_.owes()) {
    // A phone that reset serves nothing more until it is plugged in again:
    // the files owed wait for a listing that shows the roll again.
    connection_.Wait("", [this] { roll_.Enumerate(); });
  } else {
    FinishWhenDone();
  }
}

void ImportSession::Probed(bool listed) {
  copies_.Probed(listed);
  if (!state_.interrupted) thumbnails_.Pump();
  if (state_.copying) {
    copies_.Pump();
  } else {
    FinishWhenDone();
  }
}

void ImportSession::FinishWhenDone() {
  // A thumbnail being moved into place is waited for even after Ctrl+C, so
  // that its staging file does not stay.
  if (!copies_.idle() || roll_.checking() || state_.over ||
      thumbnails_.saving()) {
    return;
  }
  // Ctrl+C does not wait for thumbnails (a read of one cannot be
  // cancelled); their late answers are dropped.
  if (!state_.interrupted &&
      (connection_.away() || connection_.probing() || copies_.owes() ||
       thumbnails_.busy())) {
    return;
  }
  const Ledger& ledger = plan_.ledger();
  if (!state_.interrupted && ledger.Count(Outcome::kImported) > 0) {
    roll_.Check(plan_);
    return;
  }
  if (!state_.interrupted && !roll_.HasUnread() && ledger.listed() > 0 &&
      ledger.Count(Outcome::kAlreadyThere) == ledger.listed()) {
    // Nothing was copied: the first listing was the check.
    report_.Line("Checked: all " + std::to_string(ledger.listed()) +
                 " files on the phone are in " + destination_.path() + ".");
  }
  Finish();
}

void ImportSession::GiveUp() {
  if (state_.over) return;
  copies_.FailOwed(roll_.reset_pending()
                       ? "not copied: the device reset and was not plugged "
                         "in again"
                       : "not copied: the device went away");
  Finish();
}

void ImportSession::Finish() {
  if (state_.over) return;
  state_.over = true;
  destination_.Release();
  Ledger& ledger = plan_.ledger();
  if (!state_.interrupted) report_.SmallRoll(ledger.listed());
  if (options_.dry_run) {
    report_.DryRun(copies_.files(), ledger.Count(Outcome::kAlreadyThere));
    environment_.finished(state_.interrupted ? kExitInterrupted
                                             : kExitImported);
    return;
  }
  roll_.RecordUnread(ledger);
  Report::Ending ending;
  ending.interrupted = state_.interrupted;
  ending.stopped = state_.interrupted
                       ? ledger.Count(Outcome::kCancelled) +
                             ledger.SettleRest(Outcome::kCancelled, "")
                       : 0;
  // Nothing may stay without an outcome; one that did is a failure, never
  // passed over in silence.
  ledger.SettleRest(Outcome::kFailed, "not imported");
  ending.left_behind = placement_.left_behind();
  ending.new_files = roll_.new_files();
  ending.thumbnails = thumbnails_.Summary();
  environment_.finished(report_.Summary(ledger, ending));
}

void ImportSession::Stop(const std::string& problem) {
  if (state_.over) return;
  if (state_.copying) {
    // Files were imported already: the summary tells what came and what
    // did not.
    report_.Line(problem);
    GiveUp();
    return;
  }
  state_.over = true;
  destination_.Release();
  report_.Line(problem);
  environment_.finished(state_.interrupted ? kExitInterrupted
                                           : kExitNotStarted);
}

}  // namespace importer
