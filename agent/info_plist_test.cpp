// Reads the property list back out of the built agent executable and checks every key.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::string section_of_agent() {
  const std::string out = ::testing::TempDir() + "info_plist.bin";
  const std::string command = std::string("objcopy -O binary --only-section=__info_plist '") +
                              TARNVALE_AGENT_BINARY + "' '" + out + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(out, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(InfoPlist, EmbeddedInTheExecutableWithEveryKey) {
  const std::string plist = section_of_agent();
  ASSERT_TRUE(plist.starts_with("<?xml")) << plist.substr(0, 80);
  EXPECT_TRUE(plist.ends_with("</plist>\n"));  // nothing after the document

  std::map<std::string, std::string> found;
  std::regex entry(R"(<key>([^<]+)</key>\s*(<string>([^<]*)</string>|<(true|false)/>))");
  for (std::sregex_iterator it(plist.begin(), plist.end(), entry), end; it != end; ++it) {
    found[(*it)[1]] = (*it)[3].matched ? (*it)[3].str() : (*it)[4].str();
  }
  const std::map<std::string, std::string> expected = {
      {"CFBundleIdentifier", "com.tarnvale.host-agent"},
      {"CFBundleName", "Tarnvale Host Agent"},
      {"CFBundleDisplayName", "Tarnvale Host Agent"},
      {"CFBundleExecutable", "tarnvale-host-agent"},
      {"CFBundleInfoDictionaryVersion", "6.0"},
      {"CFBundlePackageType", "APPL"},
      {"CFBundleShortVersionString", "0.5.11"},
      {"CFBundleVersion", "0.5.11"},
      {"LSBackgroundOnly", "true"},
      {"NSScreenCaptureUsageDescription",
       "Tarnvale Host shares this Mac's screen with the person you connect with."},
  };
  EXPECT_EQ(found, expected);
}

}  // namespace
