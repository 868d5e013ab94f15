// codec: the library's command-line program. Exit codes: 0 success, 1 failure, 2 usage.
#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "base/system.h"
#include "commands.h"
#include "failure.h"
#include "library_log.h"
#include "utf8_arguments.h"

using namespace codec_tool;

namespace {

constexpr size_t kExplainingLines = 4;

void PrintFailure(const Failure& failure, const LibraryLog* log) {
  std::fprintf(stderr, "codec: %s\n", failure.what());
  if (log == nullptr || failure.Explained()) return;
  for (const std::string& line : log->Explaining(kExplainingLines)) {
    std::fprintf(stderr, "  library: %s\n", line.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"codec: decode, encode, probe and pack media through the codec library.",
               "codec"};
  app.footer("Example: codec demo ./codec-demo\nRun `codec COMMAND --help` for each command.");
  app.require_subcommand(1);
  app.allow_windows_style_options(false);  // "/folder" is a path on Windows too, not an option
  Global global;
  AddInfoCommand(app, global);
  AddProbeCommand(app, global);
  AddThumbsCommand(app, global);
  AddAudioCommand(app, global);
  AddVideoCommand(app, global);
  AddConvertCommand(app, global);
  AddRemuxCommand(app, global);
  AddRecordCommand(app, global);
  AddDemoCommand(app, global);
  // Before or after the command's name, and listed in every command's help.
  auto addFlags = [&global](CLI::App& to) {
    to.add_flag("-q,--quiet", global.quiet, "no progress display, notes or summaries");
    to.add_flag("-v,--verbose", global.verbose, "show the library's log lines on standard error");
  };
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) addFlags(*command);
  addFlags(app);
  for (const char* name : {"thumbs", "video", "convert", "record"}) {
    app.get_subcommand(name)
        ->add_option("--threads", global.threads,
                     "threads per video decoder and encoder (default: every core, decoders one "
                     "more; 1 decodes each picture as its packet arrives)")
        ->check(CLI::Range(1, 1024));
  }

  std::shared_ptr<LibraryLog> log;
  // The library's logger goes in once the flags are known, before a command runs.
  app.parse_complete_callback([&] {
    log = LibraryLog::Install(global.verbose);
    // By default one decoder thread more than cores, as the ffmpeg program has it: this
    // program's own thread waits on the decoder between its steps, and a core would idle then.
    const int decoderThreads = global.threads > 0 ? global.threads : base::GetCpuCount() + 1;
    codec_interface::ICodecInterface::SetDefaultThreads(
        decoderThreads, codec_interface::CODEC_THREAD_FRAME | codec_interface::CODEC_THREAD_SLICE,
        global.threads);
  });
  try {
    Utf8Arguments arguments(argc, argv);
    app.parse(arguments.Count(), arguments.Values());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  } catch (const Failure& failure) {
    PrintFailure(failure, log.get());
    return failure.ExitCode();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "codec: out of memory\n");
    return kExitFailure;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "codec: %s\n", e.what());
    return kExitFailure;
  }
  return kExitOk;
}
