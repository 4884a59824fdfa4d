// The pure parts of the lines: base64 and JSON text, purls and CPE names, member paths, the field
// table, and each writer's line for one record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emit/json_text.h"
#include "emit/line_writer.h"
#include "emit/purl.h"
#include "emit/record_fields.h"

namespace {

struct Case {
  std::string in, out;
};

TEST(JsonText, Base64AsRfc4648Gives) {
  const std::vector<Case> cases = {{"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},
                                   {"foo", "Zm9v"},   {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                   {"foobar", "Zm9vYmFy"}, {"\xFF\xFE", "//4="}};
  for (const Case& c : cases) EXPECT_EQ(Base64(c.in), c.out) << c.in;
}

TEST(JsonText, BytesThatAreNotUtf8GoAsBase64AndNothingEndsTheWriter) {
  EXPECT_EQ(JsonText("caf\xC3\xA9"), Json("caf\xC3\xA9"));
  EXPECT_EQ(Dumped(JsonText("\xFF\xFE")), R"({"bytes":"//4="})");
  EXPECT_EQ(Dumped(Json("a\xFF")), "\"a\xEF\xBF\xBD\"");  // would throw in a plain dump()
}

TEST(Purl, CanonicalAsThePurlLibraryWritesIt) {
  const std::vector<std::vector<std::string>> cases = {
      {"Acme Corp", "Widget Pro", "1.0+b1", "pkg:generic/Acme%20Corp/Widget%20Pro@1.0+b1"},
      {"", "tool", "", "pkg:generic/tool"},
      {"a//b/", " spaced ", " 2:1.0 ", "pkg:generic/a/b/spaced@2:1.0"},
      {"x", "", "1", ""},
      {"", "caf\xC3\xA9", "1~rc", "pkg:generic/caf%C3%A9@1~rc"}};
  for (const auto& c : cases) EXPECT_EQ(Purl(c[0], c[1], c[2]), c[3]) << c[3];
}

TEST(Purl, PackagesAndImagesAsTheirTypesAsk) {
  PackageIdentity deb;
  deb.name = "LibFoo";
  deb.version = "1:2.11-6+deb12u1";
  deb.architecture = "amd64";
  deb.vendor = "Debian";
  EXPECT_EQ(PackagePurl(deb), "pkg:deb/debian/libfoo@1:2.11-6+deb12u1?arch=amd64");
  PackageIdentity rpm;
  rpm.type = PackageIdentity::Type::kRpm;
  rpm.name = "Widget";
  rpm.version = "1.0-1";
  rpm.architecture = "x86_64";
  rpm.epoch = "2";
  EXPECT_EQ(PackagePurl(rpm), "pkg:rpm/Widget@1.0-1?arch=x86_64&epoch=2");
  ImageIdentity image;
  image.digest = "sha256:c0";
  image.manifest = "sha256:m1";
  image.tags = {"latest", "registry.example/acme/App:v1"};
  image.architecture = "amd64";
  EXPECT_EQ(ImagePurl(image),
            "pkg:oci/app@sha256:m1?arch=amd64&repository_url=registry.example%2Facme%2FApp&tag=v1");
  image.manifest.clear();
  EXPECT_EQ(ImagePurl(image), "");  // named by its manifest, which this file does not hold
}

TEST(Purl, RepositoryAndTagOfAReference) {
  const std::vector<std::vector<std::string>> cases = {{"host:5000/a/b:v1", "host:5000/a/b", "v1"},
                                                       {"a/b@sha256:00", "a/b", ""},
                                                       {"latest", "", ""},
                                                       {"host:5000/a", "host:5000/a", ""}};
  for (const auto& c : cases) {
    const auto [repository, tag] = RepositoryAndTag(c[0]);
    EXPECT_EQ(repository, c[1]) << c[0];
    EXPECT_EQ(tag, c[2]) << c[0];
  }
}

TEST(Purl, CpeValuesBoundAsTheFormattedStringAsks) {
  EXPECT_EQ(Cpe("Acme Corp", "Widget:Pro", ""), "cpe:2.3:a:acme_corp:widget\\:pro:*:*:*:*:*:*:*:*");
  EXPECT_EQ(Cpe("", "x\x01", "1.0-2"), "cpe:2.3:a:*:x\\%01:1.0-2:*:*:*:*:*:*:*");
}

TEST(LinePlace, MemberPathsSplitBackIntoTheSameNames) {
  const std::vector<std::string> names = {"a!b.tar", "!", "c"};
  EXPECT_EQ(JoinNames(names), "a!!b.tar!/!!!/c");
  EXPECT_EQ(Location("x!.deb", names), "x!!.deb!/a!!b.tar!/!!!/c");
  EXPECT_EQ(ErrorText(2, ""), "No such file or directory");
  EXPECT_EQ(ErrorText(2, "gone"), "gone");
}

zeblix::Record SampleRecord() {
  zeblix::Record r;
  r.format = zeblix::Format::kV5;
  r.offset = 7;
  r.foreign_byte_order = true;
  r.company = "Acme, \"Inc\"";
  r.product_version = "1.10";
  r.product_name = "widget";
  r.file_os = 58;
  return r;
}

TEST(RecordFields, OneTableInTheOrderOfTheLines) {
  std::vector<std::string> names;
  for (const RecordField& field : kRecordFields) names.emplace_back(field.name);
  EXPECT_EQ(names.front(), "format");
  EXPECT_EQ(names.back(), "file_type_text");
  EXPECT_EQ(names.size(), 18u);
  const zeblix::Record r = SampleRecord();
  EXPECT_EQ(std::get<std::string>(kRecordFields[0].value(r)), "V5");
  EXPECT_EQ(std::get<std::int64_t>(kRecordFields[1].value(r)), 7);
  EXPECT_EQ(std::get<std::string>(kRecordFields[2].value(r)), "foreign");
  EXPECT_EQ(FormatWord(r), "V5");
  EXPECT_EQ(ByteOrderWord(r), "foreign");
}

TEST(LineWriter, EachFormatWritesTheRecordWhereItBelongs) {
  const std::vector<std::string> member = {"in.tar"};
  const std::vector<std::string> digests = {"aa", "bb"};
  LinePlace place{"p,q", member, "host", digests, "ref"};
  const zeblix::Record r = SampleRecord();
  ItemLines json, csv, bom;
  MakeJsonLinesWriter()->Record(r, place, json);
  EXPECT_EQ(Json::parse(json.top)["company"], "Acme, \"Inc\"");
  EXPECT_EQ(Json::parse(json.top)["member_sha256"], Json::array({"bb"}));
  const auto csv_writer = MakeCsvWriter();
  csv_writer->Record(r, place, csv);
  EXPECT_TRUE(csv.top.starts_with("\"p,q\",in.tar,host,bb,V5,7,foreign,\"Acme, \"\"Inc\"\"\","));
  EXPECT_TRUE(csv.top.ends_with("\r\n"));
  EXPECT_TRUE(csv_writer->Begin().starts_with("path,member,host,sha256,format,offset,"));
  // A component nested in a holder waits there; the document's first drops its separator.
  const auto cyclonedx = MakeCycloneDxWriter();
  place.nest = {0, -1};
  cyclonedx->Record(r, place, bom);
  EXPECT_TRUE(bom.top.empty());
  EXPECT_EQ(bom.nested.size(), 1u);
  const std::string first(cyclonedx->Next(bom.nested.begin()->second));
  EXPECT_EQ(Json::parse(first)["purl"], "pkg:generic/Acme%2C%20%22Inc%22/widget@1.10");
  EXPECT_FALSE(cyclonedx->WritesErrors());
}

}  // namespace
