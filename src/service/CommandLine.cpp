#include "service/CommandLine.h"

#include <getopt.h>

#include "core/OptionNumber.h"

namespace morvex::service {

using core::ParseOptionNumber;

CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  enum LongOnly { kRestart = 1000, kHeadless };
  static const option kLongOptions[] = {
      {"create", no_argument, nullptr, 'c'},        {"name", required_argument, nullptr, 'n'},
      {"route-port", required_argument, nullptr, 'r'}, {"pub-port", required_argument, nullptr, 'p'},
      {"broadcast-port", required_argument, nullptr, 'b'}, {"token", required_argument, nullptr, 't'},
      {"metadir", required_argument, nullptr, 'm'}, {"restart", no_argument, nullptr, kRestart},
      {"headless", no_argument, nullptr, kHeadless}, {"yes", no_argument, nullptr, 'y'},
      {nullptr, 0, nullptr, 0},
  };
  CommandLineOptions options;
  std::vector<std::string> words = arguments;
  if (words.empty()) words.emplace_back("morvex");
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  optind = 0;  // a full re-initialisation of getopt's state (GNU)
  int c;
  while ((c = getopt_long(argc, argv.data(), "cyn:r:p:b:t:m:", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'c': options.create = true; break;
      case 'y': options.yes = true; break;
      case 'n': options.name = optarg; break;
      case 'r': options.routePort = ParseOptionNumber(optarg); break;
      case 'p': options.pubPort = ParseOptionNumber(optarg); break;
      case 'b': options.broadcastPort = ParseOptionNumber(optarg); break;
      case 't': options.token = optarg; break;
      case 'm': options.metadir = optarg; break;
      case kRestart: options.restart = true; break;
      case kHeadless: options.headless = true; break;
      default: break;  // getopt has already said what was wrong
    }
  }
  for (int i = optind; i < argc; ++i) options.extraWords.emplace_back(argv[static_cast<size_t>(i)]);
  return options;
}

}  // namespace morvex::service
