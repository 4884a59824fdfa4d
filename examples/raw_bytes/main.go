// A Go product carrying a version block written by `zeblix-block --format=raw`, embedded; the
// program refers to it, as Go's linker drops what nothing uses.
package main

import _ "embed"

//go:embed widget_version.bin
var widgetVersion []byte

func main() {
	if len(widgetVersion) != 1244 {
		panic("the version block is missing")
	}
}
