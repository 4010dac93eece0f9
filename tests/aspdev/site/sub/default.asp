<p id="default">default page</p>
