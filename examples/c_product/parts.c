int widget_parts(void) { return 2; }
