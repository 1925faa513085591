/* A loadable library that lacks the driver's entry point. */
int vantu_demo_not_a_driver(void) { return 0; }
