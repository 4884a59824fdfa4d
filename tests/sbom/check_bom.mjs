// node check_bom.mjs BOM.json: validates a CycloneDX document with the CycloneDX project's own
// strict JSON validator for its specVersion (the schemas ship inside the package), and parses
// every component's purl (the subject's, and those nested in others, too) with the purl project's
// parser. Prints each purl parsed, as one JSON array a line ([purl, namespace, name, version,
// qualifiers]); exits 1, saying why, when anything is wrong.
import { readFileSync } from 'node:fs';
import { Validation } from '@cyclonedx/cyclonedx-library';
import { PackageURL } from 'packageurl-js';

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
    const purl = PackageURL.fromString(component.purl);
    console.log(JSON.stringify([component.purl, purl.namespace ?? null, purl.name,
                                purl.version ?? null, purl.qualifiers ?? null]));
  }
  for (const inner of component.components ?? []) parse(inner);
};
parse({ components: [bom.metadata.component ?? {}, ...bom.components] });
