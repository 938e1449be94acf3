/* unterminated :a
