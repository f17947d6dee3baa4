# The header's comments for Doxygen: a // line before a declaration becomes
# a /// line, a // comment after a member on its line a ///< one. In the
# comments' running text, @ and # after a blank are the header's own words
# ("without @BAUD"), not Doxygen commands or links; in quotes Doxygen takes
# them as they are.
s|^\(\s*\)//$|\1///|
s|^\(\s*\)// |\1/// |
/^\s*\/\/\//s/\([ (]\)\([@#]\)/\1\\\2/g
s|\([;,]\) *// |\1 ///< |
