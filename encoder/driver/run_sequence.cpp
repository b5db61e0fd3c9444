#include "encoder/driver/run_sequence.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <new>

#include "encoder/driver/console_text.h"
#include "encoder/driver/encode_options.h"
#include "encoder/driver/encoding_job.h"
#include "encoder/driver/progress.h"
#include "platform/error.h"
#include "platform/file_specification.h"
#include "platform/interrupt.h"

using Quorvale::FileSpecification;

namespace {

void on_allocation_failure() { throw Error("Memory allocation error."); }

// The banners open a run that is under way: a command line, output or input refused before
// then gets its one message alone. A successful run prints them first, as it always has.
void announce(const EncodeOptions& options) {
  if (!options.quiet) {
    print_banner(stderr);
    print_tiff_acknowledgement(stderr);
  }
  if (options.version_requested) print_version_display(stderr);
  if (!options.quiet && options.input_name && is_tiff_family(options.image_type))
    print_tiff_acknowledgement(stderr);
}

// Every failure leaves as an exception.
void run(int argc, const char* const* argv, time_t start_time) {
  EncodeOptions options;
  if (parse_command_line(argc, argv, options) == ParseOutcome::kUsage) {
    print_usage(stderr);
    std::exit(1);
  }
  set_progress_shown(!options.quiet);
  if (!options.input_name) {  // -v alone
    announce(options);
    return;
  }
  run_encoding_job(options, start_time, [&options] { announce(options); });
}

}  // namespace

int run_vexal_encode(int argc, const char* const* argv) {
  if (const auto status = answer_help_or_version(argc, argv, encode_help())) return *status;
  if (argc == 2 && std::strncmp(argv[1], "-v", 2) == 0) {
    print_version_display(stderr);
    return 0;
  }
  std::new_handler previous = std::set_new_handler(on_allocation_failure);
  platform::install_interrupt_handlers();
  // Under a file-size limit (ulimit -f) a write then fails with EFBIG and is handled like a
  // full disk, with one message and every file removed, instead of killing the run.
  std::signal(SIGXFSZ, SIG_IGN);
  const time_t start_time = std::time(nullptr);
  int status = 0;
  try {
    run(argc, argv, start_time);
  } catch (const Quorvale::OutOfMemoryException& e) {
    std::fprintf(stderr, "%s\n", e.message());
    status = 1;
  } catch (const Quorvale::Exception& e) {
    std::fprintf(stderr, "%s\n", e.message());
    status = 1;
  } catch (const Error& e) {
    std::fprintf(stderr, "%s\n", e.message());
    status = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    status = 1;
  } catch (...) {
    std::fprintf(stderr, "Unknown exception encountered.\n");
    status = 1;
  }
  std::set_new_handler(previous);
  return status;
}
