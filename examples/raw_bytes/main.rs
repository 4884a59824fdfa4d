// A Rust product carrying a version block written by `zeblix-block --format=raw`: `#[used]`
// keeps it through optimisation, though nothing reads it.
#[used]
#[no_mangle]
pub static WIDGET_VERSION: [u8; 1244] = *include_bytes!("widget_version.bin");

fn main() {}
