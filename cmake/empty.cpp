// The shared library is made of the room archives; this file only gives the target a source.
