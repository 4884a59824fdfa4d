// node check_bom.mjs BOM.json: validates a CycloneDX document with the CycloneDX project's own
// strict JSON validator for its specVersion (the schemas ship inside the package), and parses
// every component's purl (the subject's, and those nested in others, too) with the purl project's
// parser, which must write it back unchanged (the purl is in its canonical form). Prints each purl
// parsed, as one JSON array a line ([purl, namespace, name, version, qualifiers]); exits 1, saying
// why, when anything is wrong. With --purls FILE, checks the purls of FILE, one a line, alone.
import { readFileSync } from 'node:fs';
import { Validation } from '@cyclonedx/cyclonedx-library';
import { PackageURL } from 'packageurl-js';

const canonical = (text) => {
  const purl = PackageURL.fromString(text);
  if (purl.toString() !== text) {
    console.error(`not in the canonical form: ${text}\n                    which is: ${purl.toString()}`);
    process.exit(1);
  }
  return purl;
};
if (process.argv[2] === '--purls') {
  for (const line of readFileSync(process.argv[3], 'utf8').split('\n').filter(Boolean)) canonical(line);
  process.exit(0);
}
const text = readFileSync(process.argv[2], 'utf8');
const bom = JSON.parse(text);
// The library names the versions it validates by their text: "1.6".
const errors = await new Validation.JsonStrictValidator(bom.specVersion).validate(text);
if (errors !== null) {
  console.error(JSON.stringify(errors, null, 1).slice(0, 4000));
  process.exit(1);
}
const parse = (component) => {
  if (component.purl !== undefined) {
    const purl = canonical(component.purl);
    console.log(JSON.stringify([component.purl, purl.namespace ?? null, purl.name,
                                purl.version ?? null, purl.qualifiers ?? null]));
  }
  for (const inner of component.components ?? []) parse(inner);
};
parse({ components: [bom.metadata.component ?? {}, ...bom.components] });
